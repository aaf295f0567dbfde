#!/usr/bin/env python3
"""Byte-level helpers for the audio test files that the encoders can't make directly.

  flac_craft.py narrow IN.wav OUT.wav BITS
      Rewrites a 16-, 24- or 32-bit PCM WAV as WAVE_FORMAT_EXTENSIBLE whose
      valid bits per sample are BITS (the low bits of each sample cleared), so
      that `flac` encodes it at BITS bits per sample (e.g. 12 or 20).

  flac_craft.py variable OUT.flac IN.flac...
      Joins the frames of FLAC files with the same rate, channels and sample
      size, but different block sizes, into one variable-block-size stream:
      each frame header gets the variable blocking bit and the number of its
      first sample instead of a frame number, with new CRC-8 and CRC-16.
"""
import struct
import sys


def crc8(data):
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = ((crc << 1) ^ 0x07) & 0xFF if crc & 0x80 else (crc << 1) & 0xFF
    return crc


def crc16(data):
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x8005) & 0xFFFF if crc & 0x8000 else (crc << 1) & 0xFFFF
    return crc


def chunks(wav):
    offset = 12
    while offset + 8 <= len(wav):
        tag, size = wav[offset:offset + 4], struct.unpack_from("<I", wav, offset + 4)[0]
        yield tag, wav[offset + 8:offset + 8 + size]
        offset += 8 + size + (size & 1)


def narrow(source, target, bits):
    wav = open(source, "rb").read()
    fmt = data = None
    for tag, body in chunks(wav):
        if tag == b"fmt ":
            fmt = body
        elif tag == b"data":
            data = body
    _, channels, rate, _, _, container = struct.unpack_from("<HHIIHH", fmt)
    width = container // 8
    mask = ((1 << container) - 1) ^ ((1 << (container - bits)) - 1)
    samples = bytearray(data)
    for at in range(0, len(samples) - width + 1, width):
        value = int.from_bytes(samples[at:at + width], "little") & mask
        samples[at:at + width] = value.to_bytes(width, "little")
    channel_mask = 4 if channels == 1 else 3
    pcm_guid = bytes.fromhex("0100000000001000800000aa00389b71")
    fmt = struct.pack("<HHIIHHHHI", 0xFFFE, channels, rate, rate * channels * width, channels * width,
                      container, 22, bits, channel_mask) + pcm_guid
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(samples)) + samples
    if len(samples) & 1:
        body += b"\0"
    open(target, "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)


def coded_number(value):
    """The UTF-8 style coding of a frame or sample number."""
    if value < 0x80:
        return bytes([value])
    for length in range(2, 8):
        if value < 1 << (5 * length + 1):
            break
    out = []
    for _ in range(length - 1):
        out.append(0x80 | (value & 0x3F))
        value >>= 6
    lead = (0xFF00 >> length) & 0xFF
    return bytes([lead | value]) + bytes(reversed(out))


def split(flac):
    """Metadata blocks (STREAMINFO first) and the frames of a FLAC file."""
    assert flac[:4] == b"fLaC"
    offset, blocks = 4, []
    while True:
        header = flac[offset]
        length = int.from_bytes(flac[offset + 1:offset + 4], "big")
        blocks.append((header & 0x7F, flac[offset + 4:offset + 4 + length]))
        offset += 4 + length
        if header & 0x80:
            break
    # A frame runs from one sync code to the next one whose preceding two bytes
    # are the CRC-16 of what lies between.
    starts = [at for at in range(offset, len(flac) - 1) if flac[at] == 0xFF and flac[at + 1] & 0xFE == 0xF8]
    frames, begin = [], offset
    for at in starts[1:] + [len(flac)]:
        if at > begin + 2 and crc16(flac[begin:at - 2]) == int.from_bytes(flac[at - 2:at], "big"):
            frames.append(flac[begin:at])
            begin = at
    assert begin == len(flac), "frames not found"
    return blocks, frames


def header_length(frame):
    """Bytes of a frame header before its CRC-8, and the offset of its coded number."""
    block_code, rate_code = frame[2] >> 4, frame[2] & 0x0F
    lead = frame[4]
    length = 1 if lead < 0x80 else bin(lead)[2:].index("0")  # the count of leading ones
    end = 4 + length
    end += {6: 1, 7: 2}.get(block_code, 0)
    end += {12: 1, 13: 2, 14: 2}.get(rate_code, 0)
    return end, length


def block_size(frame, number_length):
    code = frame[2] >> 4
    tail = frame[4 + number_length:]
    if code == 1:
        return 192
    if 2 <= code <= 5:
        return 576 << (code - 2)
    if code == 6:
        return tail[0] + 1
    if code == 7:
        return int.from_bytes(tail[:2], "big") + 1
    return 256 << (code - 8)


def variable(target, sources):
    out_frames, sample, sizes, info = [], 0, [], None
    for source in sources:
        blocks, frames = split(open(source, "rb").read())
        info = info or blocks[0][1]
        for frame in frames:
            end, number_length = header_length(frame)
            size = block_size(frame, number_length)
            header = bytes([0xFF, 0xF9]) + frame[2:4] + coded_number(sample) + frame[4 + number_length:end]
            header += bytes([crc8(header)])
            body = header + frame[end + 1:-2]
            out_frames.append(body + crc16(body).to_bytes(2, "big"))
            sizes.append(size)
            sample += size
    streaminfo = bytearray(info)
    streaminfo[0:2] = min(sizes).to_bytes(2, "big")
    streaminfo[2:4] = max(sizes).to_bytes(2, "big")
    streaminfo[4:10] = bytes(6)  # frame sizes unknown
    total = (int.from_bytes(streaminfo[13:18], "big") & ~((1 << 36) - 1)) | sample
    streaminfo[13:18] = total.to_bytes(5, "big")
    streaminfo[18:34] = bytes(16)  # no MD5
    out = b"fLaC" + bytes([0x80]) + len(streaminfo).to_bytes(3, "big") + bytes(streaminfo)
    open(target, "wb").write(out + b"".join(out_frames))


if __name__ == "__main__":
    if sys.argv[1] == "narrow":
        narrow(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    elif sys.argv[1] == "variable":
        variable(sys.argv[2], sys.argv[3:])
    else:
        sys.exit(__doc__)
