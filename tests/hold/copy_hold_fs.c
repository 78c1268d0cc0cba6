// A tiny FUSE file system that lets a test hold setup.exe in the middle of a copy, whatever the
// speed of the machine. It serves one source file, "held.dat", whose reads wait until the test
// creates "release" beside it; "reached" exists from the moment a read has begun waiting, so the
// test knows the copy is held. Removing "release" arms the hold again for the next test.
//
//   copy_hold_fs MOUNT-POINT [fuse options]     (scripts/test.sh mounts it for the suite)
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <errno.h>
#include <pthread.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

enum { kHeldSize = 4096, kHoldLimitSeconds = 300 };

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t released = PTHREAD_COND_INITIALIZER;
static int releaseExists = 0;
static int reachedExists = 0;

static int Is(const char* path, const char* name) {
  return path[0] == '/' && strcmp(path + 1, name) == 0;
}

static int GetAttributes(const char* path, struct stat* st, struct fuse_file_info* fi) {
  (void)fi;
  memset(st, 0, sizeof *st);
  pthread_mutex_lock(&lock);
  int exists = Is(path, "held.dat") || (Is(path, "release") && releaseExists) ||
               (Is(path, "reached") && reachedExists);
  pthread_mutex_unlock(&lock);
  if (strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0777;
    st->st_nlink = 2;
  } else if (exists) {
    st->st_mode = S_IFREG | 0666;
    st->st_nlink = 1;
    st->st_size = Is(path, "held.dat") ? kHeldSize : 0;
  } else {
    return -ENOENT;
  }
  return 0;
}

static int ReadFolder(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset,
                      struct fuse_file_info* fi, enum fuse_readdir_flags flags) {
  (void)offset, (void)fi, (void)flags;
  if (strcmp(path, "/") != 0) {
    return -ENOENT;
  }
  fill(buffer, ".", NULL, 0, 0);
  fill(buffer, "..", NULL, 0, 0);
  fill(buffer, "held.dat", NULL, 0, 0);
  pthread_mutex_lock(&lock);
  if (releaseExists) {
    fill(buffer, "release", NULL, 0, 0);
  }
  if (reachedExists) {
    fill(buffer, "reached", NULL, 0, 0);
  }
  pthread_mutex_unlock(&lock);
  return 0;
}

static int Open(const char* path, struct fuse_file_info* fi) {
  struct stat st;
  fi->direct_io = 1; // every read reaches Read, never the page cache
  return GetAttributes(path, &st, NULL);
}

static int Create(const char* path, mode_t mode, struct fuse_file_info* fi) {
  (void)mode, (void)fi;
  if (!Is(path, "release")) {
    return -EACCES;
  }
  pthread_mutex_lock(&lock);
  releaseExists = 1;
  pthread_cond_broadcast(&released);
  pthread_mutex_unlock(&lock);
  return 0;
}

static int Remove(const char* path) {
  if (!Is(path, "release")) {
    return -EACCES;
  }
  pthread_mutex_lock(&lock);
  releaseExists = 0;
  reachedExists = 0;
  pthread_mutex_unlock(&lock);
  return 0;
}

// Waits for "release" (bounded, so that a lost test never leaves setup.exe stuck), then serves
// the file's bytes.
static int Read(const char* path, char* buffer, size_t size, off_t offset,
                struct fuse_file_info* fi) {
  (void)fi;
  if (!Is(path, "held.dat")) {
    return 0;
  }
  pthread_mutex_lock(&lock);
  reachedExists = 1;
  struct timespec limit;
  clock_gettime(CLOCK_REALTIME, &limit);
  limit.tv_sec += kHoldLimitSeconds;
  while (!releaseExists) {
    if (pthread_cond_timedwait(&released, &lock, &limit) == ETIMEDOUT) {
      break;
    }
  }
  pthread_mutex_unlock(&lock);
  if (offset >= kHeldSize) {
    return 0;
  }
  if (size > (size_t)(kHeldSize - offset)) {
    size = (size_t)(kHeldSize - offset);
  }
  memset(buffer, 'h', size);
  return (int)size;
}

// Writes, truncation, times and extended attributes of the control files are accepted and
// forgotten: only their existence means anything.
static int Write(const char* path, const char* buffer, size_t size, off_t offset,
                 struct fuse_file_info* fi) {
  (void)path, (void)buffer, (void)offset, (void)fi;
  return (int)size;
}
static int Truncate(const char* path, off_t size, struct fuse_file_info* fi) {
  (void)path, (void)size, (void)fi;
  return 0;
}
static int SetTimes(const char* path, const struct timespec times[2], struct fuse_file_info* fi) {
  (void)path, (void)times, (void)fi;
  return 0;
}
static int SetMode(const char* path, mode_t mode, struct fuse_file_info* fi) {
  (void)path, (void)mode, (void)fi;
  return 0;
}

static const struct fuse_operations operations = {
    .getattr = GetAttributes,
    .chmod = SetMode,
    .truncate = Truncate,
    .open = Open,
    .read = Read,
    .write = Write,
    .readdir = ReadFolder,
    .create = Create,
    .unlink = Remove,
    .utimens = SetTimes,
};

int main(int argc, char* argv[]) {
  return fuse_main(argc, argv, &operations, NULL);
}
