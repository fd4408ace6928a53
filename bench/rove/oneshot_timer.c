/* Times whole runs of programs, taking turns (A B C A B C ...), and prints
 * per program the median wall time, the spread of the medians of equal
 * blocks of runs, and the median peak resident set size.
 *
 *   bench_oneshot_timer RUNS BLOCKS GROUP [--- GROUP]...
 *   GROUP: NAME STATUS [-e VAR=VALUE]... PROGRAM [ARG]...
 *
 * Each run is spawned directly (no shell, no taskset in between; pin this
 * program and its children inherit the placement) with standard output and
 * error on /dev/null. A run whose exit status is not STATUS ends the
 * measurement with status 1, so that a broken command is never timed.
 * Output, one line per group:
 *   NAME median_ms lowest_block_median_ms highest_block_median_ms median_rss_kb
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

struct group {
    const char* name;
    int status;
    char** argv;
    char** envp;
    double* ms;
    long* rss_kb;
};

static int compare_double(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

static int compare_long(const void* a, const void* b) {
    const long x = *(const long*)a, y = *(const long*)b;
    return (x > y) - (x < y);
}

static double median_of(double* v, int n) {
    qsort(v, (size_t)n, sizeof *v, compare_double);
    return (n % 2) ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

/* The environment of this program with the group's assignments on top. */
static char** environment_with(char** assignments, int count) {
    int n = 0;
    while (environ[n]) ++n;
    char** envp = calloc((size_t)(n + count + 1), sizeof *envp);
    if (!envp) return NULL;
    int k = 0;
    for (int i = 0; i < n; ++i) {
        int replaced = 0;
        for (int j = 0; j < count; ++j) {
            const size_t len = (size_t)(strchr(assignments[j], '=') - assignments[j]) + 1;
            if (strncmp(environ[i], assignments[j], len) == 0) replaced = 1;
        }
        if (!replaced) envp[k++] = environ[i];
    }
    for (int j = 0; j < count; ++j) envp[k++] = assignments[j];
    return envp;
}

static int run_once(const struct group* g, int run, posix_spawn_file_actions_t* actions) {
    pid_t pid;
    const double start = now_ms();
    if (posix_spawn(&pid, g->argv[0], actions, NULL, g->argv, g->envp) != 0) {
        fprintf(stderr, "oneshot_timer: cannot start %s\n", g->argv[0]);
        return -1;
    }
    int status;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid) return -1;
    g->ms[run] = now_ms() - start;
    g->rss_kb[run] = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != g->status) {
        fprintf(stderr, "oneshot_timer: %s ended with status %d, expected %d\n", g->name,
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), g->status);
        return -1;
    }
    return 0;
}

static int parse_groups(int argc, char** argv, struct group* groups, int runs) {
    int count = 0;
    for (int i = 0; i < argc;) {
        struct group* g = &groups[count++];
        if (argc - i < 3) return -1;
        g->name = argv[i++];
        g->status = atoi(argv[i++]);
        int first = i;
        while (i + 1 < argc && strcmp(argv[i], "-e") == 0) i += 2;
        char** assignments = malloc(sizeof(char*) * (size_t)((i - first) / 2 + 1));
        int n = 0;
        for (int j = first; j < i; j += 2) {
            if (!strchr(argv[j + 1], '=')) return -1;
            assignments[n++] = argv[j + 1];
        }
        g->envp = environment_with(assignments, n);
        g->argv = &argv[i];
        while (i < argc && strcmp(argv[i], "---") != 0) ++i;
        if (&argv[i] == g->argv) return -1;
        if (i < argc) argv[i++] = NULL; /* ends this group's argument vector */
        g->ms = calloc((size_t)runs, sizeof *g->ms);
        g->rss_kb = calloc((size_t)runs, sizeof *g->rss_kb);
        if (!g->envp || !g->ms || !g->rss_kb) return -1;
    }
    return count;
}

int main(int argc, char** argv) {
    if (argc < 6) {
        fprintf(stderr, "usage: %s RUNS BLOCKS NAME STATUS [-e VAR=VALUE]... PROGRAM [ARG]... [--- ...]\n", argv[0]);
        return 2;
    }
    const int runs = atoi(argv[1]);
    int blocks = atoi(argv[2]);
    if (runs < 1 || blocks < 1) return 2;
    if (blocks > runs) blocks = runs;
    struct group* groups = calloc((size_t)argc, sizeof *groups);
    const int count = groups ? parse_groups(argc - 3, argv + 3, groups, runs) : -1;
    if (count < 1) {
        fprintf(stderr, "oneshot_timer: bad group list\n");
        return 2;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    for (int run = 0; run < runs; ++run)
        for (int g = 0; g < count; ++g)
            if (run_once(&groups[g], run, &actions) != 0) return 1;
    const int per_block = runs / blocks;
    for (int g = 0; g < count; ++g) {
        double low = 0, high = 0;
        for (int b = 0; b < blocks; ++b) {
            double block[per_block];
            memcpy(block, groups[g].ms + b * per_block, sizeof block);
            const double m = median_of(block, per_block);
            if (b == 0 || m < low) low = m;
            if (b == 0 || m > high) high = m;
        }
        qsort(groups[g].rss_kb, (size_t)runs, sizeof(long), compare_long);
        printf("%s %.3f %.3f %.3f %ld\n", groups[g].name, median_of(groups[g].ms, runs), low, high,
               groups[g].rss_kb[runs / 2]);
    }
    return 0;
}
