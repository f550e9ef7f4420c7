#pragma once
// The live page the WebSocket listener serves on "GET /": one self-contained
// HTML document (inline style and script, no outside resources) that shows
// the live cursors, the connection state and the report rate.
#include <string_view>

// The page's bytes (UTF-8), valid for the life of the program.
std::string_view LivePageHtml();

// The calibration page on "GET /calibrate" (output/web/CalibrationPage.html),
// likewise.
std::string_view CalibrationPageHtml();
