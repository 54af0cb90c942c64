// The board tool's commands for an operator looking after live boards:
// what a board holds and who made it, and a way out of a lock that a dead
// writer left held.
#ifndef ZELVORA_BOARD_BOARDCARE_H_
#define ZELVORA_BOARD_BOARDCARE_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Prints, for each key (every board in /dev/shm when there is none), the
// segment's size, mode, owner and last change, its header, and the
// semaphore's value, mode and owner. Takes no lock. 0 when every board
// has a segment, 1 otherwise.
int ShowBoardStatus(const std::vector<std::string>& keys, FILE* out, FILE* err);

// Releases the semaphore of `key` once, for a holder that is gone (see
// CSemaphore::ReleaseOrphan, with `heldMillis` as the window): never while
// a live process of this system holds or waits for it, nor when the lock
// comes free within the window. Then watches as long again and takes the
// release back when the value rises above 1 (a holder that does not mark
// its hold was alive after all). Holds off the signals that end or stop it
// throughout. Says what it saw: 0 when released; 1 when it was free, busy,
// held, taken back or could not be opened.
int UnlockBoard(const std::string& key, int64_t heldMillis, FILE* out, FILE* err);

#endif  // ZELVORA_BOARD_BOARDCARE_H_
