#include "server/connection_table.h"

#include <algorithm>

namespace pelno {

ConnectionTable::ConnectionTable(std::size_t limit) : state_(std::make_shared<State>()) {
  state_->limit = limit;
}

std::unique_ptr<ConnectionTable::Place> ConnectionTable::Admit(Interrupt interrupt, Admission& admission) {
  MutexLock lock(state_->mutex);
  std::list<Entry>& entries = state_->entries;
  admission = Admission::kAdmitted;
  if (entries.size() >= state_->limit) {
    const auto oldest =
        std::find_if(entries.begin(), entries.end(), [](const Entry& entry) { return entry.evictable; });
    if (oldest == entries.end()) {
      admission = Admission::kRefused;
      return nullptr;
    }
    oldest->interrupt();
    oldest->place->inTable_ = false;
    entries.erase(oldest);
    admission = Admission::kAdmittedInPlace;
  }
  auto place = std::make_unique<Place>(state_);
  place->entry_ = entries.insert(entries.end(), Entry{std::move(interrupt), place.get()});
  place->inTable_ = true;
  return place;
}

std::size_t ConnectionTable::size() const {
  MutexLock lock(state_->mutex);
  return state_->entries.size();
}

bool ConnectionTable::CloseUnfinishedAndWait(std::chrono::milliseconds bound) {
  MutexLock lock(state_->mutex);
  std::list<Entry>& entries = state_->entries;
  for (auto entry = entries.begin(); entry != entries.end();) {
    if (!entry->evictable) {
      ++entry;
      continue;
    }
    entry->interrupt();
    entry->place->inTable_ = false;
    entry = entries.erase(entry);
  }
  return lock.WaitFor(state_->emptied, bound, [&entries]() REQUIRES(state_->mutex) { return entries.empty(); });
}

void ConnectionTable::Place::Leave() {
  MutexLock lock(state_->mutex);
  if (inTable_) state_->entries.erase(entry_);
  inTable_ = false;
  if (state_->entries.empty()) state_->emptied.notify_all();
}

bool ConnectionTable::Place::KeepPlace() {
  MutexLock lock(state_->mutex);
  if (!inTable_) return false;
  entry_->evictable = false;
  return true;
}

}  // namespace pelno
