#include <cstdio>

#include "board/BoardTool.h"

int main(int argc, char** argv) { return RunBoardTool(argc, argv, stdin, stdout, stderr); }
