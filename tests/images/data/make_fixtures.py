#!/usr/bin/python3
# Makes the decoder fixtures with outside encoders (ImageMagick, netpbm, cjpeg, Pillow) and,
# for each, a reference decode by an outside decoder (pngtopam, djpeg, Pillow) as NAME.ref:
# width and height (little-endian 32-bit) then B, G, R, A rows top-down, with 16-bit samples
# cut to their high byte and every pixel of alpha 0 turned into B = G = R = 0x80.
# Run from this folder: /usr/bin/python3 make_fixtures.py
import os, random, struct, subprocess
from PIL import Image

random.seed(7)
W, H = 13, 7

def run(*args, stdin=None):
    return subprocess.run(args, check=True, capture_output=True, input=stdin).stdout

def base_rgba():
    im = Image.new('RGBA', (W, H))
    for y in range(H):
        for x in range(W):
            a = 0 if (x + y) % 5 == 0 else (x * 20 + y * 9) % 256
            im.putpixel((x, y), (x * 19 % 256, y * 37 % 256, (x * y * 11 + 40) % 256, a))
    return im

def pam16(path, channels):
    tupl = {1: 'GRAYSCALE', 3: 'RGB', 4: 'RGB_ALPHA'}[channels]
    head = f'P7\nWIDTH {W}\nHEIGHT {H}\nDEPTH {channels}\nMAXVAL 65535\nTUPLTYPE {tupl}\nENDHDR\n'
    body = b''.join(struct.pack('>H', random.randrange(65536)) for _ in range(W * H * channels))
    open(path, 'wb').write(head.encode() + body)

def parse_pnm(data):
    # P5, P6 or P7 from netpbm and djpeg.
    magic = data[:2]
    if magic == b'P7':
        end = data.index(b'ENDHDR\n') + 7
        fields = dict(l.split(' ', 1) for l in data[3:end - 7].decode().split('\n') if ' ' in l)
        w, h, depth, maxval = int(fields['WIDTH']), int(fields['HEIGHT']), int(fields['DEPTH']), int(fields['MAXVAL'])
        body = data[end:]
    else:
        tokens, pos = [], 2
        while len(tokens) < 3:
            while data[pos:pos + 1].isspace(): pos += 1
            start = pos
            while not data[pos:pos + 1].isspace(): pos += 1
            tokens.append(int(data[start:pos]))
        pos += 1
        w, h, maxval = tokens
        depth = 1 if magic == b'P5' else 3
        body = data[pos:]
    size = 2 if maxval > 255 else 1
    samples = [int.from_bytes(body[i:i + size], 'big') for i in range(0, w * h * depth * size, size)]
    def eight(v):
        if maxval > 255: return v >> 8
        return v * 255 // maxval
    out = []
    for i in range(w * h):
        px = [eight(v) for v in samples[i * depth:(i + 1) * depth]]
        if depth == 1: r = g = b = px[0]; a = 255
        elif depth == 2: r = g = b = px[0]; a = px[1]
        elif depth == 3: r, g, b = px; a = 255
        else: r, g, b, a = px
        out.append((r, g, b, a))
    return w, h, out

def write_ref(name, w, h, pixels):
    body = bytearray(struct.pack('<ii', w, h))
    for r, g, b, a in pixels:
        body += bytes((0x80, 0x80, 0x80, 0) if a == 0 else (b, g, r, a))
    open(name + '.ref', 'wb').write(bytes(body))

def pil_ref(name, path):
    im = Image.open(path).convert('RGBA')
    write_ref(name, im.width, im.height, list(im.getdata()))

base = base_rgba()
base.save('/tmp/base_rgba.png')
base.convert('RGB').save('/tmp/base_rgb.png')
base.convert('RGB').save('/tmp/base_rgb.ppm')
base.convert('L').save('/tmp/base_grey.pgm')
pam16('/tmp/rgb16.pam', 3)
pam16('/tmp/rgba16.pam', 4)
pam16('/tmp/grey16.pam', 1)

# PNG across colour types, depths, palettes, transparency and interlace.
png = {
    'png_rgb8': ['convert', '/tmp/base_rgb.png', '-define', 'png:color-type=2', 'PNG24:OUT'],
    'png_rgba8': ['convert', '/tmp/base_rgba.png', 'PNG32:OUT'],
    'png_rgba8_interlaced': ['convert', '/tmp/base_rgba.png', '-interlace', 'PNG', 'PNG32:OUT'],
    'png_grey8': ['convert', '/tmp/base_grey.pgm', '-define', 'png:color-type=0', '-define', 'png:bit-depth=8', 'OUT'],
    'png_grey4': ['convert', '/tmp/base_grey.pgm', '-depth', '4', '-define', 'png:color-type=0', '-define', 'png:bit-depth=4', 'OUT'],
    'png_grey2': ['convert', '/tmp/base_grey.pgm', '-depth', '2', '-define', 'png:color-type=0', '-define', 'png:bit-depth=2', 'OUT'],
    'png_grey1': ['convert', '/tmp/base_grey.pgm', '-threshold', '50%', '-define', 'png:color-type=0', '-define', 'png:bit-depth=1', 'OUT'],
    'png_grey_alpha8': ['convert', '/tmp/base_rgba.png', '-colorspace', 'gray', '-depth', '8', '-define', 'png:color-type=4', 'OUT'],
    'png_rgb16': ['pamtopng', '/tmp/rgb16.pam'],
    'png_rgba16': ['pamtopng', '/tmp/rgba16.pam'],
    'png_grey16': ['pamtopng', '/tmp/grey16.pam'],
    'png_palette8': ['convert', '/tmp/base_rgb.png', '-colors', '40', 'PNG8:OUT'],
    'png_palette4': ['convert', '/tmp/base_rgb.png', '-colors', '12', '-define', 'png:bit-depth=4', '-define', 'png:color-type=3', 'OUT'],
    'png_palette_trns': ['convert', '/tmp/base_rgba.png', '-channel', 'A', '-threshold', '50%', '+channel', '-colors', '30', 'PNG8:OUT'],
    'png_palette_interlaced': ['convert', '/tmp/base_rgb.png', '-colors', '20', '-interlace', 'PNG', 'PNG8:OUT'],
    'png_rgb_trns': ['pnmtopng', '-force', '-transparent', '=rgb:00/25/28', '/tmp/base_rgb.ppm'],
    'png_grey_trns': ['pnmtopng', '-transparent', '=gray', '/tmp/base_grey.pgm'],
}
for name, cmd in png.items():
    path = name + '.png'
    if 'OUT' in ' '.join(cmd):
        run(*[a.replace('OUT', path) for a in cmd])
    else:
        open(path, 'wb').write(run(*cmd))
    # pngtopam leaves out the alpha of a tRNS colour in grey and RGB images; Pillow keeps it.
    if name in ('png_rgb_trns', 'png_grey_trns'): pil_ref(name, path)
    else: write_ref(name, *parse_pnm(run('pngtopam', '-alphapam', path)))

# JPEG: chroma subsampling, grey, progressive, restart markers, odd sizes.
jpeg = {
    'jpeg_420': ['cjpeg', '-quality', '85', '-sample', '2x2', '/tmp/base_rgb.ppm'],
    'jpeg_444': ['cjpeg', '-quality', '90', '-sample', '1x1', '/tmp/base_rgb.ppm'],
    'jpeg_422': ['cjpeg', '-quality', '75', '-sample', '2x1', '/tmp/base_rgb.ppm'],
    'jpeg_grey': ['cjpeg', '-grayscale', '/tmp/base_grey.pgm'],
    'jpeg_progressive': ['cjpeg', '-progressive', '/tmp/base_rgb.ppm'],
    'jpeg_restart': ['cjpeg', '-restart', '1', '/tmp/base_rgb.ppm'],
}
for name, cmd in jpeg.items():
    open(name + '.jpg', 'wb').write(run(*cmd))
    write_ref(name, *parse_pnm(run('djpeg', '-pnm', name + '.jpg')))

# BMP of every decoded bit count.
bmp = {
    'bmp_24': ['convert', '/tmp/base_rgb.png', '-type', 'TrueColor', 'BMP3:OUT'],
    'bmp_8': ['ppmtobmp', '-bpp', '8', '/tmp/base16.ppm'],
    'bmp_4': ['ppmtobmp', '-bpp', '4', '/tmp/base16.ppm'],
    'bmp_1': ['ppmtobmp', '-bpp', '1', '/tmp/base2.ppm'],
    # Version 5 headers: the colour table follows the longer header; 32 bits keep alpha.
    'bmp_4_v5': ['convert', '/tmp/base_rgb.png', '-colors', '16', '-type', 'Palette', 'BMP:OUT'],
    'bmp_32_v5': ['convert', '/tmp/base_rgba.png', 'BMP:OUT'],
}
open('/tmp/base16.ppm', 'wb').write(run('pnmquant', '16', '/tmp/base_rgb.ppm'))
open('/tmp/base2.ppm', 'wb').write(run('pnmquant', '2', '/tmp/base_rgb.ppm'))
for name, cmd in bmp.items():
    path = name + '.bmp'
    if 'OUT' in ' '.join(cmd):
        run(*[a.replace('OUT', path) for a in cmd])
    else:
        open(path, 'wb').write(run(*cmd))
    # bmptopnm drops alpha; Pillow keeps it.
    if name == 'bmp_32_v5': pil_ref(name, path)
    else: write_ref(name, *parse_pnm(run('bmptopnm', path)))

# GIF: plain, interlaced, transparent.
gif = {
    'gif_plain': ['convert', '/tmp/base_rgb.png', '-colors', '64', 'OUT'],
    'gif_interlaced': ['convert', '/tmp/base_rgb.png', '-colors', '32', '-interlace', 'GIF', 'OUT'],
    'gif_transparent': ['convert', '/tmp/base_rgba.png', '-channel', 'A', '-threshold', '50%', '+channel', 'OUT'],
}
for name, cmd in gif.items():
    run(*[a.replace('OUT', name + '.gif') for a in cmd])
    pil_ref(name, name + '.gif')

# A PNG whose gAMA (1.0) differs from the display's 2.2: libpng's 8-bit gamma table,
# floor(255 * (v / 255) ^ (1 / 2.2) + 0.5), with the exponent in libpng's fixed point.
open('png_gamma.png', 'wb').write(run('pnmtopng', '-gamma', '1.0', '/tmp/base_rgb.ppm'))
exponent = round(1e15 / (100000 * 220000)) * 0.00001
def corrected(v):
    return v if v in (0, 255) else int(255 * (v / 255) ** exponent + 0.5)
im = Image.open('/tmp/base_rgb.ppm').convert('RGBA')
write_ref('png_gamma', W, H, [(corrected(r), corrected(g), corrected(b), a) for r, g, b, a in im.getdata()])
