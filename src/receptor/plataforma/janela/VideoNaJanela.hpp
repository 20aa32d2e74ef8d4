#pragma once

namespace orbelo {

// What the window needs of the video it shows. Main thread only, with the window's
// OpenGL context current. The video wakes the window's loop through the main queue
// when a picture arrives; the loop then asks `mudou`.
class VideoNaJanela {
 public:
  virtual ~VideoNaJanela() = default;

  // Whether there is something new to show: a picture not drawn yet, or the picture gone.
  virtual bool mudou() const = 0;
  // Whether a picture may be moments away (a frame queued or being decoded).
  virtual bool imagemACaminho() const = 0;
  // Fills a largura × altura area at the origin, every pixel of it: the newest picture
  // fitted in it, black around it, or all black without one.
  virtual void desenhar(int largura, int altura) = 0;
  // The frame drawn last is on its way to the screen (its buffer swap returned).
  virtual void apresentado() = 0;
};

}  // namespace orbelo
