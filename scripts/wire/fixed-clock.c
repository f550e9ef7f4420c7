// Preloaded into the service by wire-capture.sh: CLOCK_BOOTTIME (the
// service's tick, which timestamps TUIO frames and so their speeds and the
// idle bundles) reads a millisecond value from a shared file that the
// capture driver sets before each touch report, and counts the reads, so
// the driver knows when a report took its time. Every other clock is the
// real one: waits and time-outs keep working.
//
// The file (WIRE_CLOCK_FILE): 8 bytes of milliseconds, 8 bytes of reads,
// both little-endian, as the driver maps them.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

struct SharedClock {
  uint64_t ms;
  uint64_t reads;
};

static struct SharedClock* shared;
static int realTime;  // WIRE_REAL_CLOCK set: only count, for seeing what varies
static int (*real_clock_gettime)(clockid_t, struct timespec*);

__attribute__((constructor)) static void Init(void) {
  real_clock_gettime = (int (*)(clockid_t, struct timespec*))dlsym(RTLD_NEXT, "clock_gettime");
  realTime = getenv("WIRE_REAL_CLOCK") != NULL;
  const char* file = getenv("WIRE_CLOCK_FILE");
  if (!file) return;
  int fd = open(file, O_RDWR);
  if (fd < 0) return;
  void* p = mmap(NULL, sizeof(struct SharedClock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (p != MAP_FAILED) shared = (struct SharedClock*)p;
}

int clock_gettime(clockid_t id, struct timespec* ts) {
  if (id == CLOCK_BOOTTIME && shared && realTime) {
    __atomic_add_fetch(&shared->reads, 1, __ATOMIC_SEQ_CST);
    return real_clock_gettime(id, ts);
  }
  if (id == CLOCK_BOOTTIME && shared) {
    // The value first, then the count: once the driver sees the count, the
    // read is done and the next value cannot reach it.
    const uint64_t ms = __atomic_load_n(&shared->ms, __ATOMIC_ACQUIRE);
    __atomic_add_fetch(&shared->reads, 1, __ATOMIC_SEQ_CST);
    ts->tv_sec = (time_t)(ms / 1000);
    ts->tv_nsec = (long)(ms % 1000) * 1000000L;
    return 0;
  }
  return real_clock_gettime(id, ts);
}
