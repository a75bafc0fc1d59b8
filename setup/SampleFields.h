#pragma once

#include <QString>

// What the settings dialog hands to the sample window: the current slot's values as
// texts, read back by the sample window when it redraws.
struct SampleFields
{
    QString edtGakuS;   // frame size, decimal
    QString edtGakuD;   // frame picture path; empty: the built-in frame picture
    QString edtGakuW;   // frame width, decimal
    QString edtTimeC;   // clock colour text
    QString edtJpgFile; // full path of the picture to show, or empty
};
