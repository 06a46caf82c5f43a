// Seen only by the release-wheel compiler (tools/manylinux/c++). glibc has
// this flag from 2.32; the wheels run on 2.17, where libstdc++'s headers would
// reference a symbol the loader cannot find. A flag that stays zero says
// "other threads may exist", so every reference count stays atomic: the
// behaviour of libstdc++ on a glibc without the flag.
#pragma once
inline char __libc_single_threaded = 0;
