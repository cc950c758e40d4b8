// benchmeter: runs a shell command and reports its wall-clock time and the
// peak resident memory of the largest process it started.
//
//   benchmeter 'command'   ->   "<seconds> <peak KiB>" on standard output
#include <cstdio>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: benchmeter 'command'\n");
        return 2;
    }
    timespec a{}, b{};
    clock_gettime(CLOCK_MONOTONIC, &a);
    pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", argv[1], static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    clock_gettime(CLOCK_MONOTONIC, &b);
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    double secs = static_cast<double>(b.tv_sec - a.tv_sec) + static_cast<double>(b.tv_nsec - a.tv_nsec) / 1e9;
    std::printf("%.4f %ld\n", secs, ru.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
