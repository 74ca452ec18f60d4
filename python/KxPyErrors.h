// Result codes become Python exceptions: every failed operation of the module raises
// kxapi.Error with the code, its name and the operation that failed.
#pragma once

#include <string>

#include <pybind11/pybind11.h>

#include "KxapiResult.h"

namespace KxPy {

// Carried from the failing call to the exception translator.
struct ResultError {
    KXAPI_RESULT m_Result;
    std::string m_Operation;
};

// Throws ResultError when result is not a success code; returns result otherwise.
KXAPI_RESULT Check(KXAPI_RESULT result, const char* operation);

// Creates kxapi.Error (a RuntimeError with the attributes code, name and operation) in the
// module and installs the translator.
void RegisterErrors(pybind11::module_& module);

} // namespace KxPy
