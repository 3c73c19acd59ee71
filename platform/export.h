/* Marks a function exported from the executable and from the shared libraries made of it:
   another program finds it by name (GetProcAddress, dlsym). Plain C, for C headers too. */
#pragma once

#if defined(_WIN32)
#define ZQR_EXPORT __declspec(dllexport)
#else
#define ZQR_EXPORT __attribute__((visibility("default")))
#endif
