#include "KxPyErrors.h"

namespace py = pybind11;

namespace KxPy {

namespace {

PyObject* g_pErrorType = nullptr; // kxapi.Error, owned by the module for the process's life

} // namespace

KXAPI_RESULT Check(KXAPI_RESULT result, const char* operation)
{
    if (KxapiFailed(result))
        throw ResultError{result, operation};
    return result;
}

void RegisterErrors(py::module_& module)
{
    g_pErrorType = PyErr_NewExceptionWithDoc("kxapi.Error",
                                             "A device API call failed: code (the result code), name "
                                             "(its name, e.g. KXAPI_E_NO_SUCH_DEVICE) and operation.",
                                             PyExc_RuntimeError, nullptr);
    if (g_pErrorType == nullptr)
        throw py::error_already_set();
    module.add_object("Error", py::handle(g_pErrorType));
    py::register_exception_translator([](std::exception_ptr pending) {
        try {
            if (pending)
                std::rethrow_exception(pending);
        } catch (const ResultError& error) {
            const char* pName = KxapiResult2Str(error.m_Result);
            std::string message = error.m_Operation + ": " + pName + " (" + std::to_string(error.m_Result) + ")";
            py::object instance = py::reinterpret_borrow<py::object>(g_pErrorType)(message);
            instance.attr("code") = static_cast<uint32_t>(error.m_Result);
            instance.attr("name") = pName;
            instance.attr("operation") = error.m_Operation;
            PyErr_SetObject(g_pErrorType, instance.ptr());
        }
    });
}

} // namespace KxPy
