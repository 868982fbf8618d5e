#pragma once
// flock() over LockFileEx on the descriptor's handle. Windows cannot open a folder
// with open(), so a lock on a folder fails when its descriptor is made, not here.
#include <io.h>

#define LOCK_SH 1
#define LOCK_EX 2
#define LOCK_NB 4
#define LOCK_UN 8
#ifndef EWOULDBLOCK
#define EWOULDBLOCK 140
#endif

int flock(int fd, int operation);
