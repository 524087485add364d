// The line monitor's message, in the product's Japanese code page
// (Shift-JIS), shown once when its log or capture cannot be written.
#pragma once

// "モニタの書き込みに失敗、モニタを停止: ", followed by the file's path.
extern const char kMonitorWriteFailedPrefix[];
