#include "launcher/outputs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "launcher/options.h"

bool needsFrame(const std::string &name) { return name.find('#') != std::string::npos; }

std::string sceneStem(const std::string &scenePath) {
    const size_t slash = scenePath.rfind('/');
    std::string base = slash == std::string::npos ? scenePath : scenePath.substr(slash + 1);
    // A leading dot belongs to the name (".scene" has no ending).
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.erase(dot);
    return base;
}

std::string expandName(const std::string &pattern, const std::string &stem) {
    static const std::string kName = "{name}";
    std::string out;
    for (size_t i = 0; i < pattern.size();) {
        if (pattern.compare(i, kName.size(), kName) == 0) {
            out += stem;
            i += kName.size();
        } else {
            out += pattern[i++];
        }
    }
    return out;
}

std::string expandFrame(const std::string &pattern, float frame) {
    const long number = std::lround(static_cast<double>(frame));
    std::string out;
    for (size_t i = 0; i < pattern.size();) {
        if (pattern[i] != '#') {
            out += pattern[i++];
            continue;
        }
        size_t run = 0;
        while (i + run < pattern.size() && pattern[i + run] == '#') ++run;
        char digits[32];
        std::snprintf(digits, sizeof digits, "%0*ld", static_cast<int>(run < 20 ? run : 20),
                      number);
        out += digits;
        i += run;
    }
    return out;
}

std::string reportBeside(const std::string &picture) {
    const size_t slash = picture.rfind('/');
    const size_t dot = picture.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return picture + ".ma";
    return picture.substr(0, dot) + ".ma";
}

std::string directoryProblem(const std::string &file) {
    const size_t slash = file.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0) {
        if (errno == ENOENT) return "the directory \"" + dir + "\" does not exist";
        return "the directory \"" + dir + "\" cannot be reached: " + std::strerror(errno);
    }
    if (!S_ISDIR(st.st_mode)) return "\"" + dir + "\" is not a directory";
    if (access(dir.c_str(), W_OK | X_OK) != 0)
        return "the directory \"" + dir + "\" is not writable";
    return std::string();
}

std::vector<ScenePlan> planOutputs(const CommandLine &cl) {
    std::vector<ScenePlan> plans;
    const bool lone = cl.scenes.size() == 1;
    for (const std::string &scene : cl.scenes) {
        ScenePlan plan;
        plan.scene = scene;
        const std::string stem = sceneStem(scene);
        if (cl.outputGiven)
            plan.picture = expandName(cl.output, stem);
        else
            plan.picture = lone ? cl.output : stem + ".tga";
        if (cl.noReport)
            plan.report.clear();
        else if (!cl.report.empty())
            plan.report = expandName(cl.report, stem);
        else if (cl.outputGiven)
            plan.report = reportBeside(plan.picture);
        else
            plan.report = lone ? "report.ma" : stem + ".ma";
        plans.push_back(plan);
    }
    return plans;
}

std::string sharedOutput(const std::vector<ScenePlan> &plans) {
    std::map<std::string, const std::string *> writer; // file -> scene
    for (const ScenePlan &plan : plans)
        for (const std::string *file : {&plan.picture, &plan.report}) {
            if (file->empty() || needsFrame(*file)) continue;
            const auto known = writer.emplace(*file, &plan.scene);
            if (!known.second)
                return "scenes " + *known.first->second + " and " + plan.scene +
                       " would both write " + *file;
        }
    return std::string();
}
