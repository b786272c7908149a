#pragma once

#include "platform/SocketError.h"

namespace lumacast {

// The endpoint could not be opened because a bind failed; the message is the
// same whatever the cause.
class EndpointBindError : public SocketError {
public:
    explicit EndpointBindError(int errorNumber);
};

} // namespace lumacast
