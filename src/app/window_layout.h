// The main window's layout in pixels at 96 dots per inch: the bounds of its controls, relative
// to the client area or, for nested controls, to their panel, and its two outer heights.
#pragma once

#include <QRect>
#include <QSize>

namespace veldar::layout {

inline constexpr QSize ClientSize{360, 420};
// Outer heights, frame included: only the top band shows, or the log too.
inline constexpr int CollapsedHeight = 106;
inline constexpr int ExpandedHeight = 450;

inline constexpr QRect ProgressBar{0, 0, 359, 33};
inline constexpr QRect ConnectionLed{0, 32, 25, 25};
inline constexpr QRect CtsLed{24, 32, 25, 25};
inline constexpr QRect ReceiveLed{24, 56, 25, 25};
inline constexpr QRect TransmitLed{0, 56, 25, 25};
inline constexpr QRect StatusLabel{56, 36, 177, 41};
// Anchored on all four sides: it keeps its distance to the client area's bottom.
inline constexpr QRect Log{0, 80, 360, 338};
inline constexpr QRect LogoPanel{232, 40, 121, 38};
inline constexpr QRect Logo{4, 4, 109, 25};
inline constexpr QRect NamePanel{56, 32, 169, 49};
inline constexpr QRect NameLabel{8, 8, 153, 13};
inline constexpr QRect NameEdit{8, 24, 105, 21};
inline constexpr QRect NameButton{120, 24, 43, 17};

} // namespace veldar::layout
