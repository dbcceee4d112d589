#pragma once

// The one value of pi: the transforms, the phase work and the geometry of
// directions all take it from here.
inline constexpr double kPi = 3.141592653589793;
