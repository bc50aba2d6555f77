#pragma once

// Which voice formats calls may use: the codec the phone asked for, within the formats the
// media side can encode and decode.
namespace iax {

class CodecPolicy {
public:
    explicit CodecPolicy(int supportedFormats);

    // The phone asks for one format; the audio block size in samples that goes with it.
    // A format without a codec here (iLBC) is replaced by u-law, keeping the block size asked for.
    int choose(int format);
    int preferred() const { return preferred_; }
    int allowed() const { return allowed_; }
    bool accepts(int format) const;
    // The format for a call the peer offers; 0 when nothing fits.
    int negotiate(int peerPreferred, int peerCapability) const;

private:
    int pick(int candidates) const;

    const int supported_;
    int preferred_;
    int allowed_;
};

}  // namespace iax
