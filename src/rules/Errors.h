#pragma once

#include "core/Errors.h"

namespace tarnwick::rules {

// A rule cannot be stored as it is (a list value longer than the store allows).
class TRuleError : public core::TError
{
public:
    using core::TError::TError;
};

// A rule file cannot be written, or its content is short or malformed.
class TRuleFileError : public core::TFileError
{
public:
    using core::TFileError::TFileError;
};

} // namespace tarnwick::rules
