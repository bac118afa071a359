#pragma once
// Internal to the graphics library: the context text is measured in when it is not measured in the
// context it is drawn into (NSStringDrawing.h says why the scale matters).
typedef struct _cairo cairo_t;

namespace textmeasuring {

// A context of the calling thread whose user space is scaled by `scale` pixels a point (the
// default measuring scale when `scale` is not positive and finite). Only for making layouts to
// measure: it is the same context at every call on the thread, scaled anew each time.
cairo_t* contextAtScale(double scale);

}  // namespace textmeasuring
