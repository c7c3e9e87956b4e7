// Records a builder's events as short lines and lets a test answer them.
#pragma once

#include "engine/kFwCAB.h"

#include <functional>
#include <string>
#include <vector>

namespace kp::test {

class EventRecorder {
public:
    explicit EventRecorder(tkFwCAB& cab) { attach(cab); }

    void attach(tkFwCAB& cab) {
        cab.OnMajorStatus = [this](tkFwCAB* sender, const std::string& cabName, int percent,
                                   bool& abort) {
            senders.push_back(sender);
            record(sender, "major " + std::to_string(percent));
            if (onMajor) {
                onMajor(cabName, percent, abort);
            }
        };
        cab.OnMinorStatus = [this](tkFwCAB* sender, const std::string& file, int percent,
                                   bool& abort) {
            senders.push_back(sender);
            if (file == "Scanning..." || file.empty()) {
                record(sender, "minor '" + file + "' " + std::to_string(percent));
            } else {
                std::string line = "progress " + file.substr(file.find_last_of('/') + 1);
                if (events.empty() || events.back() != line) {
                    record(sender, line);
                }
            }
            if (onMinor) {
                onMinor(file, percent, abort);
            }
        };
        cab.OnMessageNotify = [this](tkFwCAB* sender, std::string& cabName, std::string& diskName,
                                     int cabNo, int& diskNo, bool& abort) {
            senders.push_back(sender);
            record(sender, "next " + std::to_string(cabNo));
            if (onNext) {
                onNext(cabName, diskName, cabNo, diskNo, abort);
            }
        };
        cab.OnErrorNotify = [this](tkFwCAB* sender, int errId, int apiCode, const std::string& text,
                                   int& action) {
            senders.push_back(sender);
            record(sender, "error " + std::to_string(errId) + " " + std::to_string(apiCode) + " " +
                               text + " [" + std::to_string(action) + "]");
            if (onError) {
                onError(errId, action);
            }
        };
    }

    std::vector<std::string> events;
    // The phase the sender was in at each of the events.
    std::vector<BuildPhase> phases;
    std::vector<tkFwCAB*> senders;
    std::function<void(const std::string& cabName, int percent, bool& abort)> onMajor;
    std::function<void(const std::string& file, int percent, bool& abort)> onMinor;
    std::function<void(std::string& cabName, std::string& diskName, int cabNo, int& diskNo,
                       bool& abort)>
        onNext;
    std::function<void(int errId, int& action)> onError;

private:
    void record(tkFwCAB* sender, const std::string& event) {
        events.push_back(event);
        phases.push_back(sender ? sender->Phase() : BuildPhase::Idle);
    }
};

} // namespace kp::test
