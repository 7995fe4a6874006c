// Recorded events as short text: "component number", then each 32-bit
// argument in decimal ("setup 79 5"), so whole sequences compare at once.
#pragma once

#include <string.h>

#include <string>
#include <vector>

#include "support/trace_recorder.h"

inline std::string DescribeEvent(const RecordedEvent& event)
{
    std::string text = std::string(ComponentName(event.guidMessage)) + " " + std::to_string(event.nNumber);
    for (const std::vector<BYTE>& argument : event.arguments) {
        if (argument.size() == sizeof(DWORD)) {
            DWORD dwValue = 0;
            memcpy(&dwValue, argument.data(), sizeof(dwValue));
            text += " " + std::to_string(dwValue);
        } else {
            text += " ?";
        }
    }
    return text;
}

inline std::vector<std::string> DescribeEvents(const std::vector<RecordedEvent>& events)
{
    std::vector<std::string> lines;
    for (const RecordedEvent& event : events) {
        lines.push_back(DescribeEvent(event));
    }
    return lines;
}
