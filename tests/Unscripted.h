// What a test double answers to a call its test did not script: the test fails, naming the
// call, so that an unexpected call cannot pass unnoticed.
#pragma once

#include <winerror.h>

#include <gtest/gtest.h>

inline HRESULT Unscripted(const char* call)
{
    ADD_FAILURE() << "unscripted call: " << call;
    return E_NOTIMPL;
}
