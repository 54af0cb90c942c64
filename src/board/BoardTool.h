// zelvora-board: writes, shows and removes the desk's board segments, for
// operators and tests (the desk's own feeding process lies outside Zelvora).
#ifndef ZELVORA_BOARD_BOARDTOOL_H_
#define ZELVORA_BOARD_BOARDTOOL_H_

#include <cstdio>

// Runs one command line; `in`, `out` and `err` stand for the standard
// streams. Returns the exit status: 0 done, 1 failed, 2 bad usage.
int RunBoardTool(int argc, char** argv, FILE* in, FILE* out, FILE* err);

#endif  // ZELVORA_BOARD_BOARDTOOL_H_
