#pragma once

#include "runtime/errors.h"

// Errors of the database component: its guards, missing settings and missing engines.
class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};
