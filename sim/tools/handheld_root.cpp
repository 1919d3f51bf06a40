// handheld-root DIR [LANGUAGE]: lays out a fresh root file system of the
// simulated handheld in DIR: the SD card, the settings file, the system
// font, the menu program and the simulator's own folder.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

bool MakeDirs(const std::string& path)
{
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/')
            continue;
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            std::fprintf(stderr, "handheld-root: cannot create %s: %s\n", part.c_str(),
                         std::strerror(errno));
            return false;
        }
    }
    return true;
}

bool WriteFile(const std::string& path, const std::string& text, mode_t mode)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out || ::chmod(path.c_str(), mode) != 0) {
        std::fprintf(stderr, "handheld-root: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

bool CopyFile(const std::string& from, const std::string& to)
{
    std::ifstream in(from, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "handheld-root: the system font %s is missing\n", from.c_str());
        return false;
    }
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    return static_cast<bool>(out);
}

// The menu program: it records how it was started, as the handheld sees it,
// and ends.
const char kMenuProgram[] =
    "#!/bin/sh\n"
    "# The handheld's menu program, as far as the recorder can tell: it notes\n"
    "# the folder it was started in, its arguments and every descriptor it\n"
    "# inherited beyond 0, 1 and 2 (the shell's own copy of this script aside),\n"
    "# listed by a process of its own so that the listing adds none.\n"
    "root=$(cd \"${HANDHELD_ROOT:-$(dirname \"$0\")/../..}\" && pwd -P)\n"
    "here=$(pwd -P)\n"
    "case \"$here\" in \"$root\"*) here=${here#\"$root\"} ;; esac\n"
    "script=$(readlink -f \"$0\")\n"
    "(exec ls -l \"/proc/$$/fd\" >\"$root/sim/menu.fds\")\n"
    "inherited=$(awk -v script=\"$script\" -v root=\"$root\" '\n"
    "    $(NF - 1) == \"->\" && $(NF - 2) > 2 && $NF != script {\n"
    "        target = $NF\n"
    "        if (index(target, root) == 1) target = substr(target, length(root) + 1)\n"
    "        list = list (list == \"\" ? \"\" : \",\") $(NF - 2) \":\" target\n"
    "    }\n"
    "    END { print list == \"\" ? \"none\" : list }' \"$root/sim/menu.fds\")\n"
    "rm -f \"$root/sim/menu.fds\"\n"
    "printf 'cwd=%s argc=%d args=%s inherited=%s\\n' \"${here:-/}\" \"$#\" \"$*\" \"$inherited\" "
    "\\\n"
    "    >>\"$root/sim/menu.log\"\n"
    "exit 0\n";

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3 || argv[1][0] == '-') {
        std::fprintf(stderr,
                     "usage: handheld-root DIR [LANGUAGE]\n"
                     "Lays out a fresh root of the simulated handheld in DIR; LANGUAGE is the\n"
                     "system language (default en_US.utf8).\n");
        return 2;
    }
    const std::string root = argv[1];
    const std::string language = argc == 3 ? argv[2] : "en_US.utf8";
    const bool ok = MakeDirs(root + "/mnt/sd/music") && MakeDirs(root + "/mnt/ubifs/usr/orvo") &&
                    MakeDirs(root + "/usr/orvo") && MakeDirs(root + "/dev") &&
                    MakeDirs(root + "/sim") &&
                    WriteFile(root + "/mnt/ubifs/usr/orvo/common.ini",
                              "[main]\nlanguage=" + language + "\n", 0644) &&
                    WriteFile(root + "/usr/orvo/orvomenu", kMenuProgram, 0755) &&
                    CopyFile(RECORDER_SYSTEM_FONT, root + "/usr/orvo/HYUni_ZEM_B.ttf");
    return ok ? 0 : 1;
}
