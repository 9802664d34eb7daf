// Memory for processes that draw page after page.
#pragma once

// A page is drawn, copied and encoded through buffers of a few megabytes each, page after
// page: kept in the heap rather than mapped and returned to the system every time, they are
// not faulted in and cleared again for every page (at 96 dpi that was two thirds of the time
// spent drawing and encoding). Process-wide; called once at the start of such a process.
void KeepPageBuffers();
