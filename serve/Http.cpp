#include "serve/Http.h"

#include "convert/Names.h"
#include "convert/Sniff.h"
#include "serve/Converter.h"
#include "serve/Metrics.h"
#include "serve/Params.h"
#include "serve/Zip.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace serve {

namespace {

void Fail(httplib::Response& res, int status, const std::string& kind, const std::string& message)
{
    res.status = status;
    res.set_content(json{{"error", kind}, {"message", message}}.dump(-1, ' ', false, json::error_handler_t::replace) +
                        "\n",
                    "application/json");
}

// An answer given before the body was read: the connection cannot carry another request.
void FailEarly(httplib::Response& res, int status, const std::string& kind, const std::string& message)
{
    Fail(res, status, kind, message);
    res.set_header("Connection", "close");
}

bool SameToken(const std::string& a, const std::string& b)
{
    // Time independent of where they differ.
    unsigned char diff = a.size() != b.size();
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    return diff == 0;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const char* MimeType(convert::ImageFormat f)
{
    switch (f) {
    case convert::ImageFormat::Jpg: return "image/jpeg";
    case convert::ImageFormat::Bmp: return "image/bmp";
    case convert::ImageFormat::Png: break;
    }
    return "image/png";
}

// The request's private folder, removed with everything in it when the answer is made.
class RequestFolder {
public:
    explicit RequestFolder(const std::string& base)
    {
        std::string tmpl = base + "/r-XXXXXX";
        if (mkdtemp(tmpl.data()))
            m_path = tmpl;
    }
    ~RequestFolder()
    {
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// A place among the workers and the queue, held from before the body is read to the answer.
class Admission {
public:
    explicit Admission(Converter& c) : m_c(c), m_ok(c.Admit()) {}
    ~Admission()
    {
        if (m_ok)
            m_c.Release();
    }
    bool Ok() const { return m_ok; }

private:
    Converter& m_c;
    bool m_ok;
};

// Reads the body (raw or multipart) into upload, the fields into *s; the status and message
// of what went wrong, 0 when all is well.
struct BodyReader {
    const httplib::Request& req;
    const httplib::ContentReader& reader;
    std::string upload;
    size_t maxBytes;
    Clock::time_point deadline;
    RequestSettings* s;
    std::vector<std::string>* seen;
    int status = 0;
    std::string kind, message;
    bool bHaveFile = false;

    bool Stop(int st, const char* k, const std::string& m)
    {
        if (status == 0) {
            status = st;
            kind = k;
            message = m;
        }
        return false;
    }
    bool Late() { return Clock::now() > deadline && !Stop(408, "timed out", "the request did not arrive in time"); }

    void Read()
    {
        int fd = open(upload.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            Stop(500, "write failed", "the document cannot be stored");
            return;
        }
        size_t total = 0;
        auto store = [&](const char* data, size_t len) {
            if (Late())
                return false;
            total += len;
            if (total > maxBytes)
                return Stop(413, "too large", "the document is larger than " + std::to_string(maxBytes >> 20) + " MB");
            while (len > 0) {
                const ssize_t n = write(fd, data, len);
                if (n <= 0)
                    return Stop(500, "write failed", "the document cannot be stored");
                data += n;
                len -= size_t(n);
            }
            return true;
        };
        bool ok;
        if (req.is_multipart_form_data()) {
            std::string field;  // the part being read; "file" for the document
            std::string value;
            auto endField = [&]() {
                if (!field.empty() && field != "file" && !TakeField(field, value, s, seen, &message))
                    return Stop(400, "bad request", message);
                field.clear();
                value.clear();
                return true;
            };
            ok = reader(
                [&](const httplib::MultipartFormData& part) {
                    if (!endField())
                        return false;
                    if (part.name == "file") {
                        if (bHaveFile)
                            return Stop(400, "bad request", "more than one field 'file'");
                        bHaveFile = true;
                        if (!part.filename.empty() && s->filename.empty())
                            s->filename = part.filename;
                    } else if (part.name.empty()) {
                        return Stop(400, "bad request", "a part of the form has no name");
                    }
                    field = part.name;
                    return true;
                },
                [&](const char* data, size_t len) {
                    if (field == "file")
                        return store(data, len);
                    if (Late())
                        return false;
                    value.append(data, len);
                    return value.size() <= 4096 || Stop(400, "bad request", "the field '" + field + "' is too long");
                });
            ok = ok && endField();
        } else {
            bHaveFile = true;
            ok = reader([&](const char* data, size_t len) { return store(data, len); });
        }
        close(fd);
        if (!ok)
            Stop(400, "bad request", "the request's body could not be read (a broken form?)");
        else if (!bHaveFile)
            Stop(400, "bad request", "no document: send it as the body or as the form's field 'file'");
        else if (total == 0)
            Stop(400, "bad request", "the document is empty");
    }
};

// Where the document goes for the engine: its name as sent, with the extension its bytes say.
std::string DocumentName(const std::string& base, const std::string& upload)
{
    char head[4] = {};
    std::ifstream in(upload, std::ios::binary);
    in.read(head, 4);
    const bool bZip = std::memcmp(head, "PK\3\4", 4) == 0;
    return base + (bZip ? ".docx" : ".doc");
}

int StatusOf(convert::ErrorKind k)
{
    switch (k) {
    case convert::ErrorKind::None: return 200;
    case convert::ErrorKind::NotWord: return 415;
    case convert::ErrorKind::Password:
    case convert::ErrorKind::Damaged: return 422;
    case convert::ErrorKind::TimedOut: return 504;
    case convert::ErrorKind::NotFound:
    case convert::ErrorKind::EngineFailed:
    case convert::ErrorKind::WriteFailed: break;
    }
    return 500;
}

void Convert(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader,
             HttpSetup& setup, Converter& converter)
{
    const Clock::time_point start = Clock::now();
    if (!setup.engineProblem.empty())
        return FailEarly(res, 503, "engine failed", "the document engine cannot start: " + setup.engineProblem);
    if (setup.draining)
        return FailEarly(res, 503, "engine failed", "the service is stopping");
    Admission admission(converter);
    if (!admission.Ok()) {
        res.set_header("Retry-After", "5");
        return FailEarly(res, 429, "busy", "every worker is busy and the queue is full; try again later");
    }
    const size_t maxBytes = size_t(setup.opts.maxSizeMb) << 20;
    if (req.has_header("Content-Length")) {
        // Refused before a byte of it is read, let alone stored.
        const std::string length = req.get_header_value("Content-Length");
        if (length.size() > 15 || std::strtoull(length.c_str(), nullptr, 10) > maxBytes)
            return FailEarly(res, 413, "too large",
                             "the document is larger than " + std::to_string(setup.opts.maxSizeMb) + " MB");
    }
    RequestSettings settings;
    std::vector<std::string> seen;
    std::string error;
    for (const auto& [name, value] : req.params)
        if (!TakeField(name, value, &settings, &seen, &error))
            return FailEarly(res, 400, "bad request", error);

    RequestFolder folder(setup.tempDir);
    if (folder.Path().empty())
        return FailEarly(res, 500, "write failed", "no private folder can be made for the request");
    BodyReader body{req, reader, folder.Path() + "/upload", maxBytes,
                    start + std::chrono::seconds(setup.opts.readTimeoutSeconds), &settings, &seen, 0, "", "", false};
    body.Read();
    if (body.status != 0)
        return FailEarly(res, body.status, body.kind, body.message);
    if (settings.filename.empty() && req.has_header("Content-Disposition"))
        settings.filename = DispositionFilename(req.get_header_value("Content-Disposition"));
    std::string base;
    if (!DocumentBase(settings.filename, &base, &error))
        return Fail(res, 400, "bad request", error);

    // What can be told without an engine is told at once.
    const convert::FileCheck check = convert::CheckDocumentFile(body.upload);
    if (check.kind != convert::ErrorKind::None)
        return Fail(res, StatusOf(check.kind), convert::ErrorKindName(check.kind), check.message);
    auto job = std::make_shared<Job>();
    job->folder = folder.Path();
    job->path = folder.Path() + "/" + DocumentName(base, body.upload);
    if (rename(body.upload.c_str(), job->path.c_str()) != 0)
        return Fail(res, 500, "write failed", "the document cannot be stored");
    job->settings = settings;
    job->result.path = settings.filename.empty() ? base : settings.filename;
    job->result.base = base;
    converter.Convert(job);

    convert::DocResult& r = job->result;
    if (r.kind != convert::ErrorKind::None)
        return Fail(res, StatusOf(r.kind), convert::ErrorKindName(r.kind), r.message);
    const char* ext = convert::FormatExtension(settings.format);
    if (settings.SinglePage()) {
        if (r.pictures.size() != 1)
            return Fail(res, 400, "bad request",
                        "page " + settings.pagesText + " is past the document's end (" + std::to_string(r.pageCount) +
                            (r.pageCount == 1 ? " page)" : " pages)"));
        res.set_header("Folium-Page", std::to_string(r.pictures[0].page));
        res.set_header("Content-Disposition",
                       "attachment; filename=\"" + convert::PictureName(base, r.pictures[0].page, ext) + "\"");
        res.set_content(ReadFile(r.pictures[0].temp), MimeType(settings.format));
        return;
    }
    ZipWriter zip;
    for (convert::Picture& p : r.pictures) {
        p.file = convert::PictureName(base, p.page, ext);
        if (!zip.Add(p.file, ReadFile(p.temp)))
            return Fail(res, 500, "write failed", "the pictures do not fit in one ZIP archive");
    }
    zip.Add("report.json", convert::DocumentReport(r, "converted").dump(2, ' ', false, json::error_handler_t::replace) + "\n");
    res.set_header("Content-Disposition", "attachment; filename=\"" + base + ".zip\"");
    res.set_content(zip.Finish(), "application/zip");
}

}  // namespace

void SetUpServer(httplib::Server& server, HttpSetup& setup, Converter& converter, Metrics& metrics)
{
    const ServeOptions& o = setup.opts;
    // Threads for every request that can be in flight, and some for health checks and for
    // clients that send slowly, which hold a thread until the read timeout cuts them off.
    const size_t threads = size_t(o.jobs + o.queue + 8);
    server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server.set_read_timeout(o.readTimeoutSeconds, 0);
    server.set_write_timeout(o.readTimeoutSeconds, 0);
    server.set_keep_alive_timeout(o.idleTimeoutSeconds);
    server.set_payload_max_length(size_t(o.maxSizeMb) << 20);

    server.set_pre_routing_handler([&setup](const httplib::Request& req, httplib::Response& res) {
        if (setup.token.empty() || req.path == "/healthz" || req.path == "/readyz")
            return httplib::Server::HandlerResponse::Unhandled;
        const std::string auth = req.get_header_value("Authorization");
        if (auth.compare(0, 7, "Bearer ") == 0 && SameToken(auth.substr(7), setup.token))
            return httplib::Server::HandlerResponse::Unhandled;
        res.set_header("WWW-Authenticate", "Bearer");
        FailEarly(res, 401, "unauthorized", "this service needs \"Authorization: Bearer <token>\"");
        return httplib::Server::HandlerResponse::Handled;
    });
    server.Post("/v1/convert", [&setup, &converter](const httplib::Request& req, httplib::Response& res,
                                                    const httplib::ContentReader& reader) {
        try {
            Convert(req, res, reader, setup, converter);
        } catch (const std::exception& e) {
            Fail(res, 500, "engine failed", std::string("the request failed: ") + e.what());
        }
    });
    server.Get("/v1/convert", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Allow", "POST");
        Fail(res, 405, "bad request", "send the document with POST");
    });
    server.Get("/healthz", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok\n", "text/plain"); });
    server.Get("/readyz", [&setup, &converter](const httplib::Request&, httplib::Response& res) {
        if (!setup.engineProblem.empty())
            return Fail(res, 503, "engine failed", setup.engineProblem);
        if (setup.draining || !converter.Ready()) {
            res.status = 503;
            return res.set_content("not ready\n", "text/plain");
        }
        res.set_content("ready\n", "text/plain");
    });
    server.Get("/metrics", [&metrics, &converter](const httplib::Request&, httplib::Response& res) {
        res.set_content(metrics.Text(converter.Gauges()), "text/plain; version=0.0.4");
    });
    // Whatever the library answers itself (no such path, a body too large, a request it cannot
    // read) is JSON as well.
    server.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        const int st = res.status;
        Fail(res, st, st == 404 ? "not found" : st == 413 ? "too large" : "bad request",
             st == 404 ? "no such path (POST /v1/convert, GET /healthz, /readyz, /metrics)" : "the request was refused");
        return httplib::Server::HandlerResponse::Handled;
    }));
    server.set_logger([&metrics](const httplib::Request& req, const httplib::Response& res) {
        metrics.Request(res.status);
        if (req.path != "/healthz" && req.path != "/readyz" && req.path != "/metrics")
            std::fprintf(stderr, "%s %s %s %d %zu\n", req.remote_addr.c_str(), req.method.c_str(), req.path.c_str(),
                         res.status, res.body.size());
    });
}

}  // namespace serve
