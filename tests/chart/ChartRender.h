// Test helper: a chart painted into an image, as it draws itself on a screen
// of the given density.
#pragma once

#include "chart/TChart.h"

#include <QImage>
#include <QPainter>

#include <cmath>

// The chart painted at its size × DevicePixelRatio.
inline QImage render(const TChart& Chart, double DevicePixelRatio = 1.0) {
  QImage image(static_cast<int>(std::lround(Chart.width() * DevicePixelRatio)),
               static_cast<int>(std::lround(Chart.height() * DevicePixelRatio)), QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(DevicePixelRatio);
  QPainter painter(&image);
  Chart.paintChart(painter, DevicePixelRatio);
  return image;
}
