#include "serve/ServeOptions.h"

namespace serve {

bool ParseServeArguments(const std::vector<std::string>& args, int nDefaultJobs, ServeOptions* out, std::string* error)
{
    ServeOptions o;
    o.jobs = nDefaultJobs;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg == "-h" || arg == "--help") {
            o.help = true;
            continue;
        }
        if (arg == "--version") {
            o.version = true;
            continue;
        }
        std::string value;
        bool bHasValue = false;
        const size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.erase(eq);
            bHasValue = true;
        }
        static const char* const kShort[][2] = {{"-j", "--jobs"}, {"-t", "--timeout"}};
        for (const auto& s : kShort)
            if (arg == s[0])
                arg = s[1];
        static const char* const kLong[] = {"--listen", "--jobs", "--queue", "--max-size", "--max-pages", "--timeout",
                                            "--read-timeout", "--idle-timeout", "--engine-memory",
                                            "--engine-documents", "--fonts", "--token-file"};
        bool bKnown = false;
        for (const char* k : kLong)
            bKnown |= arg == k;
        if (!bKnown) {
            *error = "unknown option '" + args[i] + "'";
            return false;
        }
        if (!bHasValue) {
            if (i + 1 >= args.size()) {
                *error = arg + " needs a value";
                return false;
            }
            value = args[++i];
        }
        bool ok = true;
        std::string why;
        using convert::ParseInt;
        if (arg == "--listen") {
            // HOST:PORT, the host an IPv4 address or name, or [IPv6]:PORT.
            const size_t colon = value.rfind(':');
            ok = colon != std::string::npos && colon > 0 && ParseInt(value.substr(colon + 1), 1, 65535, &o.port);
            o.host = ok ? value.substr(0, colon) : "";
            if (ok && o.host.size() > 2 && o.host.front() == '[' && o.host.back() == ']')
                o.host = o.host.substr(1, o.host.size() - 2);
            why = " (ADDRESS:PORT, e.g. 127.0.0.1:8080 or [::1]:8080)";
        } else if (arg == "--jobs") {
            ok = ParseInt(value, 1, 64, &o.jobs), why = " (1 to 64)";
        } else if (arg == "--queue") {
            ok = ParseInt(value, 0, 10000, &o.queue), why = " (0 to 10000)";
        } else if (arg == "--max-size") {
            ok = ParseInt(value, 1, 4000, &o.maxSizeMb), why = " (megabytes, 1 to 4000)";
        } else if (arg == "--max-pages") {
            ok = ParseInt(value, 1, 100000, &o.maxPages), why = " (1 to 100000)";
        } else if (arg == "--timeout") {
            ok = ParseInt(value, 1, 86400, &o.timeoutSeconds), why = " (1 to 86400 seconds)";
        } else if (arg == "--read-timeout") {
            ok = ParseInt(value, 1, 3600, &o.readTimeoutSeconds), why = " (1 to 3600 seconds)";
        } else if (arg == "--idle-timeout") {
            ok = ParseInt(value, 1, 3600, &o.idleTimeoutSeconds), why = " (1 to 3600 seconds)";
        } else if (arg == "--engine-memory") {
            ok = ParseInt(value, 0, 1 << 20, &o.engineMemoryMb), why = " (megabytes, 0 for no limit)";
        } else if (arg == "--engine-documents") {
            ok = ParseInt(value, 0, 100000000, &o.engineDocuments), why = " (documents, 0 for no limit)";
        } else if (arg == "--fonts") {
            ok = !value.empty();
            o.fontDirs.push_back(value);
        } else if (arg == "--token-file") {
            ok = !value.empty();
            o.tokenFile = value;
        }
        if (!ok) {
            *error = arg + ": bad value '" + value + "'" + why;
            return false;
        }
    }
    *out = o;
    return true;
}

const char* ServeVersionText() { return "pagesnap-serve (Folium Converter) 1.0"; }

std::string ServeHelpText()
{
    return R"(Usage: pagesnap-serve [options]
Serves the conversion of Word documents (.doc, .docx) into one picture per page over HTTP.

      --listen ADDR:PORT    where to listen (default 127.0.0.1:8080)
  -j, --jobs N              documents converted at once, each by a worker with its own
                            engine (default: the cores, at most 8)
      --queue N             requests that may wait for a worker (default 16); beyond them a
                            request is answered 429 with Retry-After
      --max-size MB         largest document accepted (default 64); larger: 413
      --max-pages N         most pages converted per request (default 500); later pages are
                            listed in the report's skipped_pages
  -t, --timeout SECONDS     per document (default 120); 504 past it
      --read-timeout SECONDS  a request must arrive whole within this (default 30)
      --idle-timeout SECONDS  a kept-alive connection with no request is closed (default 5)
      --engine-memory MB    replace an engine past MB resident (default 1024; 0: never)
      --engine-documents N  replace an engine after N documents (default 250; 0: never)
      --fonts DIR           also draw with the fonts of this folder; repeatable
      --token-file FILE     every request but /healthz and /readyz needs
                            "Authorization: Bearer <the file's first line>"
  -h, --help                this text
      --version             the program's name and version

POST /v1/convert?format=png|jpg|bmp&resolution=DPI&pages=LIST&quality=N
  the document as the body (name in Content-Disposition's filename or ?filename=), or as
  multipart/form-data field "file" (the parameters as form fields too). Answers a ZIP of
  <base>_<page>.<ext> pictures and report.json; for exactly one page, that picture.
GET /healthz, /readyz, /metrics (Prometheus text format).
Errors are JSON: {"error": KIND, "message": TEXT}. See docs/SERVICE.md and pagesnap-serve(1).
)";
}

}  // namespace serve
