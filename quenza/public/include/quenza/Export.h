#pragma once

// Framework classes keep default visibility inside plug-ins built with hidden
// visibility, so that their type information is shared with the host: an exception
// thrown by a plug-in is then caught by its type in the host.
#define QUENZA_API __attribute__((visibility("default")))
