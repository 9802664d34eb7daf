// Command-line parsing of pagesnap-batch. Every rejection names the argument it rejects.
#include "batch/Options.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <set>
#include <thread>

namespace batch {

using convert::ParseFormat;
using convert::ParseInt;
using convert::kMaxDpi;
using convert::kMinDpi;

bool ParseArguments(const std::vector<std::string>& args, int nDefaultJobs, Options* out, std::string* error)
{
    Options o;
    o.jobs = nDefaultJobs;
    bool bEndOfOptions = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (bEndOfOptions || arg.size() < 2 || arg[0] != '-') {
            o.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            bEndOfOptions = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            o.help = true;
            continue;
        }
        if (arg == "--version") {
            o.version = true;
            continue;
        }
        if (arg == "--resume") {
            o.resume = true;
            continue;
        }
        // The option's name and value: "--name=value", "--name value", "-xvalue" or "-x value".
        std::string name, value;
        bool bHasValue = false;
        if (arg[1] == '-') {
            const size_t eq = arg.find('=');
            name = arg.substr(0, eq);
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                bHasValue = true;
            }
        } else {
            name = arg.substr(0, 2);
            if (arg.size() > 2) {
                value = arg.substr(2);
                bHasValue = true;
            }
        }
        static const char* const kShort[][2] = {{"-o", "--output"},  {"-f", "--format"},  {"-r", "--resolution"},
                                                {"-p", "--pages"},   {"-q", "--quality"}, {"-j", "--jobs"},
                                                {"-t", "--timeout"}, {"", "--report"},
                                                {"", "--fonts"},     {"", "--files-from"},
                                                {"", "--engine-memory"}, {"", "--engine-documents"},
                                                {"", "--shard"}};
        std::string longName;
        for (const auto& pair : kShort)
            if (name == pair[0] || name == pair[1])
                longName = pair[1];
        if (longName.empty()) {
            *error = "unknown option '" + arg + "'";
            return false;
        }
        if (!bHasValue) {
            if (i + 1 >= args.size()) {
                *error = "option '" + name + "' needs a value";
                return false;
            }
            value = args[++i];
        }
        bool ok = true;
        std::string why;
        if (longName == "--output") {
            ok = !value.empty();
            o.outputDir = value;
        } else if (longName == "--format") {
            if (!ParseFormat(value, &o.format))
                ok = false, why = " (png, jpg or bmp)";
        } else if (longName == "--resolution") {
            ok = ParseInt(value, kMinDpi, kMaxDpi, &o.dpi);
            why = " (24 to 600)";
        } else if (longName == "--pages") {
            if (!ParsePageList(value, &o.pages, error)) {
                *error = "--pages: " + *error;
                return false;
            }
            o.pagesText = value;
        } else if (longName == "--quality") {
            ok = ParseInt(value, 1, 100, &o.quality);
            why = " (1 to 100)";
        } else if (longName == "--jobs") {
            ok = ParseInt(value, 1, 64, &o.jobs);
            why = " (1 to 64)";
        } else if (longName == "--timeout") {
            ok = ParseInt(value, 1, 86400, &o.timeoutSeconds);
            why = " (1 to 86400 seconds)";
        } else if (longName == "--report") {
            ok = !value.empty();
            o.reportPath = value;
        } else if (longName == "--engine-memory") {
            ok = ParseInt(value, 0, 1 << 20, &o.engineMemoryMb);
            why = " (megabytes, 0 for no limit)";
        } else if (longName == "--engine-documents") {
            ok = ParseInt(value, 0, 100000000, &o.engineDocuments);
            why = " (documents, 0 for no limit)";
        } else if (longName == "--shard") {
            if (!ParseShard(value, [](const char* name) -> const char* { return std::getenv(name); }, &o.shardIndex,
                            &o.shardCount, error))
                return false;
        } else if (longName == "--files-from") {
            ok = !value.empty();
            o.filesFrom = value;
        } else if (longName == "--fonts") {
            // The engine takes its font folders as one list separated by ':'.
            ok = !value.empty() && value.find(':') == std::string::npos;
            why = " (a folder whose name has no ':')";
            o.fontDirs.push_back(value);
        }
        if (!ok) {
            *error = "bad value '" + value + "' for " + longName + why;
            return false;
        }
    }
    if (!o.help && !o.version && o.inputs.empty() && o.filesFrom.empty()) {
        *error = "no FILE or FOLDER given";
        return false;
    }
    // Each shard of a run names its own report.
    for (size_t at; (at = o.reportPath.find("{shard}")) != std::string::npos;)
        o.reportPath.replace(at, 7, std::to_string(o.shardIndex));
    *out = o;
    return true;
}

bool ParseShard(const std::string& text, const std::function<const char*(const char*)>& env, int* pIndex,
                int* pCount, std::string* error)
{
    constexpr int kMaxShards = 1000000;
    const size_t slash = text.find('/');
    const std::string k = text.substr(0, slash);
    int nIndex = -1, nCount = -1;
    // A Slurm array's task, counted from 0 whatever the array's first id and step.
    auto fromSlurm = [&](bool bCountToo) {
        const char* id = env("SLURM_ARRAY_TASK_ID");
        const char* count = env("SLURM_ARRAY_TASK_COUNT");
        const char* first = env("SLURM_ARRAY_TASK_MIN");
        const char* step = env("SLURM_ARRAY_TASK_STEP");
        int nId, nFirst = 0, nStep = 1;
        if (!id || !ParseInt(id, 0, INT_MAX, &nId) || (first && !ParseInt(first, 0, nId, &nFirst)) ||
            (step && !ParseInt(step, 1, INT_MAX, &nStep)) || (bCountToo && (!count || !ParseInt(count, 1, kMaxShards, &nCount))))
            return false;
        nIndex = (nId - nFirst) / nStep;
        return true;
    };
    if (k == "auto" && slash == std::string::npos) {
        if (!fromSlurm(true)) {
            *error = "--shard auto: not a task of a Slurm job array (SLURM_ARRAY_TASK_ID and "
                     "SLURM_ARRAY_TASK_COUNT are not set); give --shard K/N";
            return false;
        }
    } else if (slash == std::string::npos || !ParseInt(text.substr(slash + 1), 1, kMaxShards, &nCount)) {
        *error = "bad value '" + text + "' for --shard (K/N with 0 <= K < N, auto or auto/N)";
        return false;
    } else if (k == "auto") {
        const char* index = env("JOB_COMPLETION_INDEX");
        if (index ? !ParseInt(index, 0, INT_MAX, &nIndex) : !fromSlurm(false)) {
            *error = "--shard auto/N: neither JOB_COMPLETION_INDEX (a Kubernetes indexed Job) nor "
                     "SLURM_ARRAY_TASK_ID (a Slurm job array) is set to a number";
            return false;
        }
    } else if (!ParseInt(k, 0, INT_MAX, &nIndex)) {
        *error = "bad value '" + text + "' for --shard (K/N with 0 <= K < N, auto or auto/N)";
        return false;
    }
    if (nIndex >= nCount) {
        *error = "--shard: part " + std::to_string(nIndex) + " of " + std::to_string(nCount) +
                 " does not exist (parts count from 0)";
        return false;
    }
    *pIndex = nIndex;
    *pCount = nCount;
    return true;
}

void ReadPathList(std::istream& in, std::vector<std::string>* inputs)
{
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            inputs->push_back(line);
    }
}

const char* VersionText() { return "pagesnap-batch (Folium Converter) 1.0"; }

std::string HelpText()
{
    return R"(Usage: pagesnap-batch [options] FILE|FOLDER...
Converts Word documents (.doc, .docx) into one picture per page, several documents at once,
without a display.

  -o, --output DIR          where pictures go (default: the current folder); made when missing
  -f, --format png|jpg|bmp  (default png)
  -r, --resolution DPI      24 to 600 (default 96)
  -p, --pages LIST          e.g. 1-3,5,8- (default: every page); pages past a document's end
                            are skipped with a warning
  -q, --quality N           JPEG quality 1 to 100 (default 90)
  -j, --jobs N              documents converted at once, each with its own engine
                            (default: the number of cores, at most 8)
  -t, --timeout SECONDS     per document (default 300; a worker's first document includes
                            its engine's start)
      --report FILE         a JSON report ("-" for standard output); "{shard}" in FILE
                            becomes the part K of --shard
      --resume              skip the documents an earlier run into the same output folder
                            finished with the same settings (its pictures all still there)
      --files-from FILE     also the documents and folders named in FILE, one a line ("-":
                            standard input), for lists too long for a command line
      --shard K/N           convert only part K (from 0) of N of the documents, for runs split
                            over several machines or jobs (see below); "auto" takes K and N
                            from a Slurm job array's SLURM_ARRAY_TASK_ID and
                            SLURM_ARRAY_TASK_COUNT, "auto/N" takes K from a Kubernetes indexed
                            Job's JOB_COMPLETION_INDEX (else from the Slurm array)
      --engine-memory MB    replace a worker's engine between documents once its resident
                            memory is past MB (default 1024; 0: never)
      --engine-documents N  replace it after N documents (default 250; 0: never)
      --fonts DIR           also draw with the fonts of this folder (and its sub-folders),
                            for fonts a document asks for that the system lacks; repeatable
  -h, --help; --version

A FOLDER contributes its files matching *.doc, in any letter case and with longer extensions
such as .docx (as Pagesnap's document list adds a folder); sub-folders are not searched. A
folder's files are taken in name order; a file named twice is converted once.

Pictures are named <base>_<n>.<ext> as Pagesnap names them (<base>: the document's name
without its extension, n: the page number from 1). When documents of one run share a base
name (report.doc and report.docx, or two folders' letter.doc; letter case ignored), the first
in command-line order keeps it and each later one takes, as Pagesnap does, the first free of
<base>_<extension>, <base>_<extension>2, ... (report_docx_1.png) that is no other document's
base name in the run; the report gives every file name.

With --shard, every part lists the same documents in the same order (the folders expanded,
--files-from read, names given as above over the whole list) and takes those whose position
in it, counted from 0, leaves K when divided by N: N runs with K = 0..N-1 over the same inputs
convert each document once, with the names one run would give. They may share one output
folder, each keeping its own list of finished documents there; --resume reads them all.

Each picture is written under a hidden temporary name in the output folder and renamed into
place once its whole document has converted: a document that fails or times out leaves none
of its pictures of this run (pictures of earlier runs are not touched, and a successful
document replaces its files of the same names). Nothing else is written outside the output
folder except a private temporary folder, removed at the end.

Progress goes to standard error: on a terminal one line redrawn, otherwise one line per
finished document. Exit status: 0 when every document converted, 1 when any failed (error
kinds: not found, not a Word document, password-protected, damaged, timed out, engine
failed), 2 for a usage error. Ctrl-C or SIGTERM ends the workers and their engines, removes
the temporary files and the interrupted documents' pictures, then ends by that signal.
)";
}

}  // namespace batch
