// A worker process: owns one document engine (through the Word layer) and converts the
// documents its parent (a run of pagesnap-batch, pagesnap-serve, Pagesnap's batch view) hands
// it, one at a time.
//
// Protocol, one JSON object per line. The run writes to the worker's standard input:
//   {"setup": {"format": "png", "dpi": 96, "quality": 90, "pages": "1-3,5", "temp": DIR}}
//   {"doc": N, "path": PATH, "prefix": PREFIX}        (then more documents; end of input ends it)
// A document's line may also give its own "format", "dpi", "quality" and "pages", and
// "max_pages" (at most that many pictures; the pages past them are reported as skipped).
// The worker answers on its standard output, for document N:
//   {"doc": N, "event": "engine", "pid": P}           an engine process it started (any time)
//   {"doc": N, "event": "opened", "pages": C, "skipped": ["9-"], "fonts": [...], "stored_pages": S}
//                                                     fonts and stored_pages when the engine
//                                                     tells them (see CxWordDoc::GetFontReport)
//   {"doc": N, "event": "page", "page": n, "file": PREFIX<n>.<ext>, "width": W, "height": H}
//   {"doc": N, "event": "done"}  or  {"doc": N, "event": "failed", "kind": K, "message": M}
#pragma once

namespace convert {

// Runs the worker on standard input/output until the input ends; the process exit code.
int WorkerMain();

}  // namespace convert
