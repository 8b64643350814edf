/* A host program for what only a process of its own shows: it loads a
 * library file with dlopen, the way a host does, and
 *   host_probe exit LIBRARY URL DELAY_US
 *     loops Kel_VerifySeal against URL on a second thread and calls exit()
 *     from the first after DELAY_US microseconds, in the middle of a call;
 *     exit code 0 unless the exit crashed;
 *   host_probe late LIBRARY URL busy|idle
 *     exits while a call to URL (which should answer late) is in progress
 *     (busy) or after one has ended (idle); an exit handler that runs after
 *     the library's own lets that call finish and then makes another call:
 *     prints "in flight R" (busy) and "late R", each call's result;
 *   host_probe inherit LIBRARY URL
 *     makes one Kel_VerifySeal against URL (whose connection the library
 *     keeps) and starts a program, as a host does with system(); prints
 *     "connections C inherited I": the sockets connected to the URL's port,
 *     and how many of them the program started inherited. */
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

typedef int (*VerifySealFn)(const char *, const char *, const char *, const char *, int, int *);

static VerifySealFn verify_seal;
static const char *url;
static pthread_t in_flight;
static int busy;
static int in_flight_result = -1;

static void *OneCall(void *unused) {
  int status;
  (void)unused;
  in_flight_result = verify_seal(url, "Acme", "S-1", "t", 1, &status);
  return NULL;
}

static void *LoopCalls(void *unused) {
  int status;
  (void)unused;
  for (;;) verify_seal(url, "Acme", "S-1", "t", 1, &status);
  return NULL;
}

/* Runs after the library's own exit handlers, which were registered later. */
static void CallsAfterTheLibrarysEnd(void) {
  int status;
  if (verify_seal == NULL) return;
  if (busy) {
    pthread_join(in_flight, NULL);
    printf("in flight %d\n", in_flight_result);
  }
  printf("late %d\n", verify_seal(url, "Acme", "S-1", "t", 1, &status));
}

/* The port a URL of the form http://host:port/... names. */
static int UrlPort(const char *text) {
  const char *colon = strrchr(text, ':');
  return colon != NULL ? atoi(colon + 1) : 0;
}

static int InheritedSockets(int port) {
  char line[512];
  char inodes[64][64];
  int count = 0, inherited = 0, fd, i;
  FILE *child;
  for (fd = 0; fd < 1024 && count < 64; ++fd) {
    struct sockaddr_storage peer;
    socklen_t size = sizeof peer;
    char link[64];
    ssize_t length;
    if (getpeername(fd, (struct sockaddr *)&peer, &size) != 0) continue;
    if (peer.ss_family != AF_INET ||
        ntohs(((struct sockaddr_in *)&peer)->sin_port) != (unsigned short)port) {
      continue;
    }
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    length = readlink(link, inodes[count], sizeof inodes[count] - 1);
    if (length > 0) inodes[count++][length] = '\0';
  }
  /* ls lists its own descriptors: the ones it inherited. */
  child = popen("ls -l /proc/self/fd", "r");
  if (child == NULL) return -1;
  while (fgets(line, sizeof line, child) != NULL) {
    for (i = 0; i < count; ++i) {
      if (strstr(line, inodes[i]) != NULL) ++inherited;
    }
  }
  pclose(child);
  printf("connections %d inherited %d\n", count, inherited);
  return 0;
}

int main(int argc, char **argv) {
  void *library;
  int status = 0;
  if (argc < 4) {
    fprintf(stderr, "usage: host_probe exit|inherit|late LIBRARY URL [DELAY_US|busy|idle]\n");
    return 2;
  }
  if (strcmp(argv[1], "late") == 0 && atexit(CallsAfterTheLibrarysEnd) != 0) return 2;
  library = dlopen(argv[2], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return 2;
  }
  verify_seal = (VerifySealFn)dlsym(library, "Kel_VerifySeal");
  url = argv[3];
  if (verify_seal == NULL) return 2;
  if (strcmp(argv[1], "inherit") == 0) {
    verify_seal(url, "Acme", "S-1", "t", 1, &status);
    return InheritedSockets(UrlPort(url)) == 0 ? 0 : 2;
  }
  if (strcmp(argv[1], "exit") == 0 && argc == 5) {
    pthread_t thread;
    if (pthread_create(&thread, NULL, LoopCalls, NULL) != 0) return 2;
    usleep((useconds_t)atoi(argv[4]));
    exit(0);
  }
  if (strcmp(argv[1], "late") == 0 && argc == 5) {
    if (strcmp(argv[4], "busy") == 0) {
      if (pthread_create(&in_flight, NULL, OneCall, NULL) != 0) return 2;
      busy = 1;       /* only now is there a thread for the exit handler to join */
      usleep(500000); /* the call now waits for the late answer */
    } else {
      verify_seal(url, "Acme", "S-1", "t", 1, &status);
    }
    exit(0);
  }
  return 2;
}
