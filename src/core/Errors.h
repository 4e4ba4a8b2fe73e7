#pragma once

#include <stdexcept>
#include <string>

namespace tarnwick::core {

// The project's error hierarchy. A failure is thrown as one of these and caught where the user's
// action began, which shows its text (a message box, the receiving window's error list, or the
// command line's standard error).
class TError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The settings store refused an operation or its file cannot be used.
class TStoreError : public TError
{
public:
    using TError::TError;
};

// A file could not be read or written, or its content is malformed.
class TFileError : public TError
{
public:
    using TError::TError;
};

// A text could not be converted into the number or value it should hold.
class TConversionError : public TError
{
public:
    using TError::TError;
};

} // namespace tarnwick::core
