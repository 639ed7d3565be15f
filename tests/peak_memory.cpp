// Runs a command and writes its peak resident memory, in kilobytes, to a
// file. The kernel keeps a process's peak across exec, so a command started
// straight from a large test program would report that program's memory;
// started from this small one, it reports its own. Exits as the command did.
// Usage: korvane_peak_memory OUTPUT COMMAND [ARGUMENT...]
#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

pid_t child = 0;

void forward(int signal_number)
{
    if (child > 0)
        kill(child, signal_number);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 127;
    setpgid(0, 0); // the caller can end both at once
    signal(SIGTERM, forward);
    signal(SIGINT, forward);
    child = fork();
    if (child == 0) {
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    rusage usage {};
    while (wait4(child, &status, 0, &usage) < 0)
        ;
    FILE* out = fopen(argv[1], "w");
    if (out) {
        fprintf(out, "%ld\n", usage.ru_maxrss);
        fclose(out);
    }
    if (WIFSIGNALED(status)) {
        signal(WTERMSIG(status), SIG_DFL);
        raise(WTERMSIG(status));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 127;
}
