#pragma once

// Marks what libkivlog exports; everything else in it stays inside.
#if defined(__GNUC__)
#define KIVLOG_API __attribute__((visibility("default")))
#else
#define KIVLOG_API
#endif
