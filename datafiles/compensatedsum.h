#pragma once

// A sum that carries its rounding error (each step's exact error by
// TwoSum, without a branch), so that a difference of two prefix sums over
// millions of points keeps a short range's digits.
struct CompensatedSum
{
    double sum = 0;
    double error = 0;

    void add(double x)
    {
        const double t = sum + x;
        const double z = t - sum;
        error += (sum - (t - z)) + (x - z);
        sum = t;
    }
    void add(const CompensatedSum &other)
    {
        add(other.sum);
        add(other.error);
    }
    void subtract(const CompensatedSum &other)
    {
        add(-other.sum);
        add(-other.error);
    }
    double value() const { return sum + error; }
};
