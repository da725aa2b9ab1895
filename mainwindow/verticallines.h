#pragma once

// Vertical lines over the plot at times, which the plot panel drags with the
// mouse, moves with a click and steps with the arrow keys, whatever they
// mark. GUI thread only.
class VerticalLines
{
public:
    virtual int lineCount() const = 0;
    virtual bool lineShown(int line) const = 0;
    virtual double lineTime(int line) const = 0;
    virtual void setLineTime(int line, double time) = 0;

protected:
    ~VerticalLines() = default;
};
