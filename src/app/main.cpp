#include "app/Startup.h"

#include <malloc.h>

int main(int argc, char **argv) {
  // Chart buffers grow to hundreds of megabytes; served from mmap they are moved by the kernel
  // instead of copied, which keeps the UI from stalling when a long recording's traces grow.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  return RunProgram(argc, argv);
}
