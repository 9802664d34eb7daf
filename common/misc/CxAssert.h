// Consistency checks of the common library: a violated check is a programming error and
// stops the program with the tested expression as its text.
#pragma once

[[noreturn]] void CxAssertFailed(const char* szExpr, const char* szFile, int nLine);

#define CX_ASSERT(expr) ((expr) ? (void)0 : CxAssertFailed(#expr, __FILE__, __LINE__))
