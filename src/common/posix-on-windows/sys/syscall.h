#pragma once
// SYS_gettid and syscall() come from common/PosixOnWindows.h, included ahead of every file.
