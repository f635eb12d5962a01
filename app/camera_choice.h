#pragma once

// Which cameras --source camera, pipewire and v4l2 reach.
//
// camera (the default) uses PipeWire when a daemon answers and offers at
// least one camera, and the /dev/video* devices otherwise; pipewire and v4l2
// force one of the two. Without a daemon, pipewire gives a source with no
// camera (the window opens all the same) and one line on Report.

#include <functional>
#include <memory>
#include <string>

#include "app/options.h"
#include "platform/camera/camera_source.h"

std::shared_ptr<CameraSource> chooseCameraSource(
    Options::SourceKind Kind, const std::function<void(const std::string&)>& Report,
    const std::function<std::shared_ptr<CameraSource>()>& OpenV4l2);
