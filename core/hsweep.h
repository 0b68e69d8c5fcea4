#pragma once

#include <vector>

// The H values a fractal run visits: from initialH in steps of hStep, by
// repeated floating-point addition, while H does not exceed
// finalH + hStep / 2. The dialog's total and the progress range are derived
// from this same loop, so what the user is promised is what the run does.
inline std::vector<double> hValues(double initialH, double finalH, double hStep)
{
    std::vector<double> values;
    if (!(hStep > 0.0))
        return values;
    const double limit = finalH + 0.5 * hStep;
    for (double h = initialH; h <= limit; h += hStep)
        values.push_back(h);
    return values;
}
