// A broken invariant stops the fuzzer with the input that broke it.
#pragma once

[[noreturn]] void fuzzCheckFailed(const char* file, int line, const char* condition, const char* what);

#define FUZZ_CHECK(condition, what)                                         \
    do {                                                                    \
        if (!(condition)) fuzzCheckFailed(__FILE__, __LINE__, #condition, what); \
    } while (0)
