// The words of a traffic event: the same for the view and the log.
#include "link/traffic.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "link/catalogue.h"
#include "link/func.h"
#include "link/reply_parser.h"

namespace zp {

bool IsTrouble(const TTrafficEvent& e) {
    switch (e.kind) {
        case TTrafficKind::Answer:
            return e.bytes.size() == 1 && e.bytes[0] == kNAK;
        case TTrafficKind::Malformed:
        case TTrafficKind::Discarded:
        case TTrafficKind::Timeout:
        case TTrafficKind::Resend:
        case TTrafficKind::GiveUp:
        case TTrafficKind::WriteFailed:
        case TTrafficKind::LineLost:
            return true;
        default:
            return false;
    }
}

const char* DirectionText(TDirection d) {
    switch (d) {
        case TDirection::ToCamera:
            return "to camera";
        case TDirection::FromCamera:
            return "from camera";
        case TDirection::Link:
            break;
    }
    return "link";
}

const char* KindText(TTrafficKind kind) {
    switch (kind) {
        case TTrafficKind::Frame:
            return "frame";
        case TTrafficKind::Resend:
            return "resend";
        case TTrafficKind::Control:
            return "control";
        case TTrafficKind::Reply:
            return "reply";
        case TTrafficKind::Answer:
            return "answer";
        case TTrafficKind::Malformed:
            return "malformed";
        case TTrafficKind::Discarded:
            return "discarded";
        case TTrafficKind::Timeout:
            return "time-out";
        case TTrafficKind::GiveUp:
            return "give-up";
        case TTrafficKind::WriteFailed:
            return "write failed";
        case TTrafficKind::LineOpened:
            return "port opened";
        case TTrafficKind::LineLost:
            break;
    }
    return "hang-up";
}

namespace {

std::string Described(const std::vector<uint8_t>& bytes) {
    if (bytes.size() == 1) {
        return DescribeControl(bytes[0]);
    }
    return DescribeCommand(bytes.data(), bytes.size());
}

}  // namespace

std::string TrafficMeaning(const TTrafficEvent& e) {
    switch (e.kind) {
        case TTrafficKind::Frame:
        case TTrafficKind::Control:
        case TTrafficKind::Answer:
            return Described(e.bytes);
        case TTrafficKind::Resend:
            return "resend " + std::to_string(e.count) + " of " + std::to_string(e.of) + ": " +
                   Described(e.bytes);
        case TTrafficKind::Reply:
            return DescribeReply(e.bytes.data(), e.bytes.size());
        case TTrafficKind::Malformed:
            return DescribeMalformed(e.bytes.data(), e.bytes.size());
        case TTrafficKind::Discarded:
            return std::to_string(e.bytes.size()) + (e.bytes.size() == 1 ? " byte" : " bytes") +
                   " outside a frame, dropped";
        case TTrafficKind::Timeout:
            return "no answer within " + std::to_string(e.count) + " ms";
        case TTrafficKind::GiveUp:
        case TTrafficKind::WriteFailed:
        case TTrafficKind::LineOpened:
        case TTrafficKind::LineLost:
            break;
    }
    return e.note;
}

uint8_t TrafficGroup(const TTrafficEvent& e) {
    // Frames and replies carry their group in byte 2.
    if (e.bytes.size() >= 3 && e.bytes[0] == kSTX) {
        return e.bytes[2];
    }
    return 0;
}

std::string RelativeTime(const TTrafficEvent& e, std::chrono::steady_clock::time_point origin) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(e.at - origin).count();
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    return text;
}

std::string WallTime(const TTrafficEvent& e) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(e.wall);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(e.wall.time_since_epoch()).count() %
        1000;
    char clock[16] = "";
    // The link runs on one thread: the shared buffer of localtime is safe here.
    if (const std::tm* t = std::localtime(&seconds)) {
        std::strftime(clock, sizeof clock, "%H:%M:%S", t);
    }
    char text[24];
    std::snprintf(text, sizeof text, "%s.%03lld", clock, static_cast<long long>(ms));
    return text;
}

std::string TrafficLine(const TTrafficEvent& e, std::chrono::steady_clock::time_point origin) {
    std::string line = RelativeTime(e, origin);
    for (const std::string& field :
         {WallTime(e), std::string(DirectionText(e.direction)), std::string(KindText(e.kind)),
          BytesToHex(e.bytes.data(), e.bytes.size(), " "), TrafficMeaning(e)}) {
        line += '\t';
        line += field;
    }
    return line;
}

bool TTrafficLog::Open(const std::string& path, std::string& error) {
    Close();
    file_ = std::fopen(path.c_str(), "a");
    if (file_ == nullptr) {
        error = "Cannot write the traffic log " + path + ": " + std::strerror(errno);
        return false;
    }
    path_ = path;
    return true;
}

void TTrafficLog::Close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

void TTrafficLog::OnTraffic(const TTrafficEvent& e) {
    if (file_ == nullptr) {
        return;
    }
    const std::string line = TrafficLine(e, origin_) + "\n";
    if (std::fputs(line.c_str(), file_) < 0 || std::fflush(file_) != 0) {
        const std::string error =
            "Writing the traffic log " + path_ + " failed: " + std::strerror(errno);
        Close();
        if (OnError) {
            OnError(error);
        }
    }
}

}  // namespace zp
