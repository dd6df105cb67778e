// The plug-in is built with hidden visibility; only what the host looks up
// by name carries this mark.
#pragma once

#define SPLINEEXPORT_API __attribute__((visibility("default")))
