#pragma once

/// Hue of a packed colour R * 65536 + G * 256 + B in integer degrees 0..359, the one hue
/// function of the whole code base: the HSV hue 60 x (position on the colour hexagon), rounded
/// to the nearest degree, 360 folding to 0. Grey, black and white (R = G = B) have no hue and
/// give 0.
[[nodiscard]] int KaComputeHue(unsigned long packed) noexcept;
