// What a document file is, told from its bytes before the engine is asked to open it: the
// engine opens nearly anything (a text file becomes a text document) and answers a password
// request by failing like any other bad file, so these kinds are told apart here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace convert {

enum class ErrorKind { None, NotFound, NotWord, Password, Damaged, TimedOut, EngineFailed, WriteFailed };

// The report's name of a kind ("not found", "password-protected", ...); "" for None.
const char* ErrorKindName(ErrorKind k);

// What a compound file (the container of .doc and of encrypted .docx) holds.
struct CompoundInfo {
    bool valid = false;             // header, allocation table and directory could be read
    bool encryptedPackage = false;  // an "EncryptedPackage" stream: a password-protected OOXML file
    bool wordDocument = false;      // a "WordDocument" stream: a Word 6 to 2003 document
    bool wordEncrypted = false;     // its file information block says encrypted or obfuscated
};

// Reads a compound file held in memory; every offset and count is checked against the size.
CompoundInfo ReadCompoundFile(const uint8_t* data, size_t size);

struct FileCheck {
    ErrorKind kind = ErrorKind::None;  // None: worth handing to the engine
    std::string message;
};

// Classifies the file at path: missing or unreadable (not found), empty (damaged), a
// compound file with neither a Word stream nor an encrypted package, or bytes of no Word
// format at all (not a Word document), a password-protected .doc or .docx.
FileCheck CheckDocumentFile(const std::string& path);

// The same on bytes already read (size is the whole file's).
FileCheck CheckDocumentBytes(const uint8_t* data, size_t size);

}  // namespace convert
