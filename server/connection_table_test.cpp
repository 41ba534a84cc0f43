#include "server/connection_table.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

namespace pelno {
namespace {

using Admission = ConnectionTable::Admission;

// A table of `limit` places whose interrupts are recorded by connection name.
struct Table {
  explicit Table(std::size_t limit) : table(limit) {}
  std::unique_ptr<ConnectionTable::Place> Admit(const std::string& name, Admission expected) {
    Admission admission{};
    auto place = table.Admit([this, name] { interrupted.push_back(name); }, admission);
    EXPECT_EQ(admission, expected) << name;
    EXPECT_EQ(place == nullptr, expected == Admission::kRefused) << name;
    return place;
  }
  ConnectionTable table;
  std::vector<std::string> interrupted;
};

// At the limit the oldest connection still sending its request gives up its place,
// never one whose request is being served; with none left the new one is refused.
TEST(ConnectionTableTest, AtTheLimitTheOldestStillReadingMakesRoom) {
  Table t(3);
  auto a = t.Admit("a", Admission::kAdmitted);
  auto b = t.Admit("b", Admission::kAdmitted);
  auto c = t.Admit("c", Admission::kAdmitted);
  EXPECT_TRUE(a->KeepPlace());
  auto d = t.Admit("d", Admission::kAdmittedInPlace);
  EXPECT_EQ(t.interrupted, (std::vector<std::string>{"b"}));
  EXPECT_EQ(t.table.size(), 3u);
  EXPECT_FALSE(b->KeepPlace());  // closed to make room: it must not answer
  b.reset();                          // leaving again changes nothing
  EXPECT_EQ(t.table.size(), 3u);

  EXPECT_TRUE(c->KeepPlace());
  EXPECT_TRUE(d->KeepPlace());
  t.Admit("e", Admission::kRefused);
  EXPECT_EQ(t.interrupted.size(), 1u);

  c->Leave();  // a connection that ends frees its place
  auto f = t.Admit("f", Admission::kAdmitted);
  auto g = t.Admit("g", Admission::kAdmittedInPlace);
  EXPECT_EQ(t.interrupted, (std::vector<std::string>{"b", "f"}));
}

// At a stop the connections still sending their request are closed at once and the
// wait lasts until those being answered have left, or its bound.
TEST(ConnectionTableTest, AStopClosesTheUnfinishedAndWaitsForTheAnswered) {
  Table t(4);
  auto reading = t.Admit("reading", Admission::kAdmitted);
  auto answering = t.Admit("answering", Admission::kAdmitted);
  EXPECT_TRUE(answering->KeepPlace());
  EXPECT_FALSE(t.table.CloseUnfinishedAndWait(std::chrono::milliseconds(50)));
  EXPECT_EQ(t.interrupted, (std::vector<std::string>{"reading"}));
  EXPECT_FALSE(reading->KeepPlace());
  auto answered = std::async(std::launch::async, [&t] {
    return t.table.CloseUnfinishedAndWait(std::chrono::seconds(10));
  });
  EXPECT_EQ(answered.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  answering.reset();
  EXPECT_TRUE(answered.get());
  EXPECT_EQ(t.interrupted.size(), 1u);
}

TEST(ConnectionTableTest, PlacesMayOutliveTheTable) {
  std::unique_ptr<ConnectionTable::Place> place;
  {
    Table t(1);
    place = t.Admit("a", Admission::kAdmitted);
  }
  EXPECT_TRUE(place->KeepPlace());
}

}  // namespace
}  // namespace pelno
