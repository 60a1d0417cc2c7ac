// The command-line conventions every Beaconry program follows: --help
// prints the usage on standard output and exits 0, --version prints
// "<program> <version>" and exits 0, and a wrong option prints the usage on
// standard error and exits 2. Each program keeps its own option loop and
// hands what it does not know to this class.
#ifndef BEACONRY_CLI_H
#define BEACONRY_CLI_H

#include <cstdio>
#include <cstring>

#include "beaconry_version.h"

class BeaconryCli
{
public:
    // usage: the whole text, starting with "usage: ..." and ending with a new line
    BeaconryCli(const char* program, const char* usage, const char* version_suffix = "")
        : m_Program(program), m_Usage(usage), m_VersionSuffix(version_suffix)
    {
    }

    // --help and --version; true when arg was one of them, with the exit status in status
    bool IsStandard(const char* arg, int& status) const
    {
        if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            status = Help();
            return true;
        }
        if (strcmp(arg, "--version") == 0) {
            printf("%s %s%s\n", m_Program, BEACONRY_VERSION, m_VersionSuffix);
            status = 0;
            return true;
        }
        return false;
    }

    int Help() const
    {
        fputs(m_Usage, stdout);
        return 0;
    }

    // a usage error: the reason (if any), then the usage, on standard error
    int Fail(const char* reason = nullptr) const
    {
        if (reason) fprintf(stderr, "%s: %s\n", m_Program, reason);
        fputs(m_Usage, stderr);
        return 2;
    }

    // what to do with an argument the program's loop did not take
    int Unknown(const char* arg) const
    {
        int status = 2;
        if (IsStandard(arg, status)) return status;
        if (arg[0] == '-' && arg[1] != '\0') {
            fprintf(stderr, "%s: unknown option, or one without its value: %s\n", m_Program, arg);
        } else {
            fprintf(stderr, "%s: unexpected argument %s\n", m_Program, arg);
        }
        return Fail();
    }

private:
    const char* m_Program;
    const char* m_Usage;
    const char* m_VersionSuffix;
};

#endif // BEACONRY_CLI_H
