#pragma once

// Makes the Sounds screen's QML and its view-models known ("Tovrick.Motivation"). Safe to call more
// than once.
namespace motivationQml {
void registerTypes();
// The screen's address in the program's resources.
inline constexpr const char* soundsPage = "qrc:/tovrick/motivation/qml/MotivationSoundsPage.qml";
} // namespace motivationQml
