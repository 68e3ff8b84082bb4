// What nearly every test program includes, compiled once per build: each test source would
// otherwise parse GoogleTest (and, on Windows, windows.h) again for a second or more.
#pragma once
#ifdef _WIN32
#include <windows.h>
#endif
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>
