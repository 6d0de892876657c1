#pragma once

#include <QImage>
#include <QRect>

// The Gaussian blur that blur marks show through their rectangle. The cost per pixel does not
// grow with the radius (a cascade of box filters), edges are clamped (border pixels continue
// outward, so there is no dark or transparent fringe), and the rows and columns are spread over
// the machine's cores.
namespace BlurRenderer {

// The standard deviation in pixels for a blur radius in thousandths of the image width, so a blur
// looks the same at every resolution.
double sigmaFor(double radius, int imageWidth);

// The blurred copy of the whole image, same size, premultiplied ARGB32; null for a null image or
// a radius that is not finite and positive.
QImage make(const QImage &image, double radius);

// The blurred pixels of `region` (clipped to the image) for the standard deviation `sigma`,
// computed from the image around it as far as the filter reaches; the result has the region's
// size. Only the real image edges are clamped, so a region blurs exactly as the whole image would.
QImage blurRegion(const QImage &image, const QRect &region, double sigma);

// How far, in pixels, the filter for `sigma` reads beyond a pixel.
int reach(double sigma);

} // namespace BlurRenderer
