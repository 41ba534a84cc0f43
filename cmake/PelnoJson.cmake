# pelno_json: the header-only nlohmann::json library as an interface target.
#
# Its headers are copied into the build tree at configure time, so a target that
# links pelno_json sees that one library and nothing else of the folder it came
# from (a cross build must never search the host's /usr/include).
set(PELNO_NLOHMANN_JSON_DIR /usr/include/nlohmann CACHE PATH
    "Folder holding nlohmann/json.hpp and its companions (Debian: nlohmann-json3-dev)")
if(NOT EXISTS ${PELNO_NLOHMANN_JSON_DIR}/json.hpp)
  message(FATAL_ERROR "nlohmann/json.hpp not found in ${PELNO_NLOHMANN_JSON_DIR}; "
                      "install nlohmann-json3-dev or set PELNO_NLOHMANN_JSON_DIR")
endif()
set(PELNO_JSON_INCLUDE_DIR ${CMAKE_BINARY_DIR}/pelno_json/include)
file(COPY ${PELNO_NLOHMANN_JSON_DIR}/ DESTINATION ${PELNO_JSON_INCLUDE_DIR}/nlohmann)

add_library(pelno_json INTERFACE)
target_include_directories(pelno_json SYSTEM INTERFACE ${PELNO_JSON_INCLUDE_DIR})
