#pragma once
// Lets another party's step land between a taker's read of a word and its
// write, wherever a taker splits the two: the page that holds the word is
// made read-only, its first write faults, and the handler makes the page
// writable again, runs the step, and lets the write go on. A
// compare-exchange is one write, made after the step, that reads what the
// step left; a plain read and then a store has read before the step ran,
// and its store lands over the step's. The taker's first write into that
// page must be its write of the word (a record of its own page; the
// section's first page, whose first write is the lock's). One trap at a
// time.

#include <windows.h>

namespace vt {

class FirstWriteTrap {
 public:
  FirstWriteTrap(const volatile void* word, void (*step)());
  ~FirstWriteTrap();
  FirstWriteTrap(const FirstWriteTrap&) = delete;
  FirstWriteTrap& operator=(const FirstWriteTrap&) = delete;

  bool sprung() const;

 private:
  void* handler_;
};

// A zeroed page of its own, for a record that a trap watches.
void* NewPage();
void FreePage(void* page);

}  // namespace vt
