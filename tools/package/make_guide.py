#!/usr/bin/env python3
"""Writes the user guide (HTML) and renders its pictures with pyrix and the native plug-in.

Usage: make_guide.py --source ROOT --pyrix PYRIX --plugin PLUGIN --version V
                     (--signer NAME | --unsigned) --out DIR

DIR receives user_guide.html and the folder user_guide/ with the pictures. The names, category,
defaults and ranges come from the plug-in itself (pyrix info, pyrix about); the messages the
plug-in can show are read from the sources under ROOT, and the guide explains exactly those: a
message without an explanation here, or an explanation of a message the sources no longer
have, stops the script (exit 1).
"""

import argparse
import html
import glob
import os
import re
import shutil
import subprocess
import sys

PICTURES = "user_guide"

# The parameter strips: which pyrix strip parameter shows each control, and what it does.
CONTROLS = {
    "Position": ("position-x", """Where the base of the flame sits in the layer, in percent of
        the layer's width and height (0,0 is the top left corner). The fire always starts
        exactly on this point, whatever its other settings, so you can animate it or pin it to
        a tracked point. The strip moves it from left to right."""),
    "Emitter Size": ("emitter-size", """The size of the flame: 100 is its natural size, 200
        twice as large. At 0 there is no fire (the layer stays black). Values up to 1000 can be
        typed in; the slider covers the usual range."""),
    "Detail": ("detail", """How fine the turbulence is. At 0 the flame is one smooth tongue,
        like a candle; higher values break it into smaller, busier licks and sparks."""),
    "Softness": ("softness", """Softens the flame: it damps the finest turbulence, rounds the
        flame's edge and moves the colours towards a warmer, glowing look."""),
    "Speed": ("speed", """How fast the fire moves, as a factor of its natural speed: 2 is
        twice as fast, 0 freezes it, negative values play it backwards. The strip shows one
        frame (frame 24) at each speed, so the shapes differ: the fire has moved further."""),
    "Offset": ("offset", """Shifts the fire's animation in time without changing its speed:
        the same frame shows a different fire. Use it to give several copies of the effect
        different flames, or animate it for a flicker that does not follow the frame rate."""),
}

# Every message the plug-in can show, why it appears and what to do.
MESSAGES = {
    "No hardware GPU available": (
        "The computer has no graphics card that can run Direct3D 11 (a remote desktop session, "
        "a virtual machine or a render node without GPU), and <code>PYRIX_CPU_FALLBACK</code> "
        "is set to <code>off</code>.",
        "Remove the <code>PYRIX_CPU_FALLBACK</code> setting (or set it to <code>auto</code>): "
        "the plug-in then renders on the processor. Or render on a machine with a graphics "
        "card."),
    "DXGI initialization failed": (
        "Windows' graphics system could not be started, and <code>PYRIX_CPU_FALLBACK</code> is "
        "<code>off</code>.",
        "Restart the computer and update the graphics driver; or remove the "
        "<code>off</code> setting to render on the processor."),
    "Direct3D 11 GPU initialization failed": (
        "The graphics card does not offer Direct3D 11 (feature level 11.0) or its driver "
        "refused to start, and <code>PYRIX_CPU_FALLBACK</code> is <code>off</code>.",
        "Update the graphics driver, or remove the <code>off</code> setting to render on the "
        "processor."),
    "GPU shader initialization failed": (
        "The graphics driver refused the plug-in's fire program.",
        "Update the graphics driver and restart the host application. Until then, set "
        "<code>PYRIX_CPU_FALLBACK=force</code> to render on the processor."),
    "GPU anchor shader initialization failed": (
        "The graphics driver refused the plug-in's second (anchor) program.",
        "As above: update the driver, restart, or render on the processor with "
        "<code>PYRIX_CPU_FALLBACK=force</code>."),
    "GPU anchor buffer allocation failed": (
        "The graphics card had no memory left while the plug-in was setting up.",
        "Close other programs that use the graphics card, purge the host application's caches "
        "and render again; or render on the processor (<code>PYRIX_CPU_FALLBACK=force</code>)."),
    "GPU anchor UAV failed": (
        "The graphics driver failed while the plug-in was setting up (out of memory or a "
        "driver fault).",
        "As for the message above."),
    "GPU anchor SRV failed": (
        "The graphics driver failed while the plug-in was setting up.",
        "As for the message above."),
    "GPU constant buffer allocation failed": (
        "The graphics card had no memory left while the plug-in was setting up.",
        "As for the message above."),
    "GPU texture allocation failed": (
        "Not enough graphics memory for a frame of this size.",
        "Close other programs that use the graphics card, or render at a lower resolution. "
        "The next frame tries again; <code>PYRIX_CPU_FALLBACK=force</code> renders on the "
        "processor, which uses main memory instead."),
    "GPU output view failed": (
        "The graphics driver failed to prepare the frame (usually out of graphics memory).",
        "As for the message above."),
    "GPU readback allocation failed": (
        "Not enough graphics memory to copy the frame back.",
        "As for the message above."),
    "GPU readback failed": (
        "The graphics card failed while handing back the frame, for example after a driver "
        "reset.",
        "Render the frame again: a lost graphics card is set up anew on the next frame. If it "
        "keeps happening, update the driver or render on the processor."),
    "GPU output buffer too small for the frame": (
        "With the host application's GPU acceleration on, the host handed over a graphics "
        "buffer too small for the frame. This should never happen; nothing was written.",
        "Render again; if it persists, turn the host's GPU acceleration off for the project "
        "and tell the maker which version of the host application shows it."),
    "GPU frame failed on the host's device": (
        "With the host application's GPU acceleration on, the host's graphics device failed "
        "while rendering the fire (for example after a driver reset).",
        "Render the frame again. If it keeps happening, update the graphics driver or turn the "
        "host's GPU acceleration off: the plug-in then renders on its own device."),
    "Unsupported frame dimensions (maximum 16384)": (
        "The layer, at the resolution being rendered, is larger than 16384 pixels on a side (or "
        "has no pixels at all).",
        "Use a smaller layer or composition, or render the fire in a precomposition of a "
        "supported size and scale that up."),
    "Non-finite effect parameter": (
        "Detail, Speed or Offset is not a number (an expression that divides by zero, for "
        "example), or the time is out of range.",
        "Check the keyframes and expressions of Detail, Speed and Offset."),
    "Non-finite position/emitter parameter": (
        "Position, Emitter Size or Softness is not a number.",
        "Check the keyframes and expressions of Position, Emitter Size and Softness."),
    "Invalid output stride": (
        "The host application handed over an output image too small for the frame. This should "
        "never happen.",
        "Render again; if it persists, tell the maker which version of the host application "
        "and which frame size show it."),
    "Invalid point coordinate dimensions": (
        "When the plug-in read Position, the host application reported a layer without size or "
        "an invalid resolution.",
        "Check that the layer has a size; render again. If it persists, tell the maker."),
}


def run(args):
    result = subprocess.run(args, capture_output=True, text=True)
    if result.returncode != 0:
        sys.stderr.write(result.stdout + result.stderr)
        raise SystemExit(f"make_guide: {' '.join(args)} failed with {result.returncode}")
    return result.stdout


def source_messages(root):
    """The texts the plug-in can raise, as written in its sources."""
    messages = set()
    for path in glob.glob(os.path.join(root, "renderers", "*.cpp")):
        with open(path, encoding="utf-8") as handle:
            for line in handle:
                if not line.lstrip().startswith(("#", "//")):
                    messages.update(re.findall(r'"([A-Z][^"]*)"', line))
    for path in glob.glob(os.path.join(root, "host", "*.h")) + \
            glob.glob(os.path.join(root, "host", "*.cpp")):
        with open(path, encoding="utf-8") as handle:
            messages.update(re.findall(r'k\w*Message\s*=\s*"([^"]+)"', handle.read()))
    return messages


def message_faults(root):
    """What keeps the guide's messages from being the sources' messages, one line a direction."""
    written = source_messages(root)
    faults = []
    unexplained = sorted(written - set(MESSAGES))
    if unexplained:
        faults.append("the guide does not explain these messages: " + "; ".join(unexplained))
    gone = sorted(set(MESSAGES) - written)
    if gone:
        faults.append("the guide explains messages the plug-in no longer has: " + "; ".join(gone))
    return faults


def message_prefix(root):
    with open(os.path.join(root, "host", "command_guard.cpp"), encoding="utf-8") as handle:
        return re.search(r'"([^"%]*)%s"', handle.read()).group(1)


def browser_notice(root):
    parts = []
    for path in sorted(glob.glob(os.path.join(root, "ui", "*.cpp"))):
        with open(path, encoding="utf-8") as handle:
            parts += re.findall(r'AppendWide\(text, text_length, "([^"]*)"\)', handle.read())
    if len(parts) != 2:
        sys.exit(f"make_guide: expected the browser notice's two parts in ui/, found {parts}")
    return parts  # the words before and after the address


def parse_info(text):
    info = {"params": []}
    for key in ("name", "category", "version", "support URL"):
        info[key] = re.search(rf"^{key}:\s+(.*)$", text, re.M).group(1).strip()
    for m in re.finditer(r'^\s+\d+\s+"([^"]+)"\s+id \d+\s+(.*)$', text, re.M):
        name, rest = m.group(1), m.group(2)
        param = {"name": name, "rest": rest}
        slider = re.search(r"default (\S+)\s+valid (\S+) to (\S+)\s+slider (\S+) to (\S+)", rest)
        if slider:
            param.update(default=slider.group(1), valid=(slider.group(2), slider.group(3)),
                         slider=(float(slider.group(4)), float(slider.group(5))))
        point = re.search(r"default (\S+), (\S+) \(% of the layer\)", rest)
        if point:
            param.update(default=f"{point.group(1)}, {point.group(2)} %", point=True)
        info["params"].append(param)
    return info


def number(value):
    """As pyrix reads it back: no thousands separators, which would split a strip's values."""
    value = float(value)
    return f"{int(value)}" if value.is_integer() else f"{value:g}"


def strip_values(param):
    if param.get("point"):
        return "20,35,50,65,80"  # Position: across the middle of the layer
    if "slider" not in param:
        sys.exit(f"make_guide: pyrix info shows no slider range for {param['name']}")
    low, high = param["slider"]
    return ",".join(number(low + (high - low) * i / 4) for i in range(5))


def render_pictures(args, info, out):
    pictures = os.path.join(out, PICTURES)
    os.makedirs(pictures, exist_ok=True)
    base = [args.pyrix]
    strips = {}
    for param in info["params"]:
        if param["name"] not in CONTROLS:
            continue
        option, _ = CONTROLS[param["name"]]
        values = strip_values(param)
        file = f"{option}.png"
        run(base + ["strip", "--plugin", args.plugin, "--param", option, f"--values={values}",
                    "-o", os.path.join(pictures, file)])
        strips[param["name"]] = (file, values)
    # The default clip, as the demo renders it, at half its size.
    run(base + ["render", "--plugin", args.plugin, "--size", "1280x720", "--downsample", "2",
                "--frames", "1-48", "-o", os.path.join(pictures, "preview.webp")])
    shutil.copy(os.path.join(args.source, "docs", "banner.png"),
                os.path.join(pictures, "banner.png"))
    return strips


STYLE = """
body { font: 16px/1.5 "Segoe UI", system-ui, sans-serif; max-width: 60em; margin: 2em auto;
       padding: 0 1em; color: #222; }
h1 { font-size: 1.9em; margin-bottom: 0; } h2 { margin-top: 2em; border-bottom: 1px solid #ccc; }
.sub { color: #666; margin-top: 0; }
img.strip { width: 100%; image-rendering: auto; border-radius: 4px; }
img.preview { display: block; max-width: 100%; border-radius: 4px; }
table { border-collapse: collapse; width: 100%; } td, th { border: 1px solid #ccc; padding: .3em .5em;
        vertical-align: top; text-align: left; } th { background: #f3f3f3; }
code { background: #f3f3f3; padding: 0 .2em; border-radius: 3px; }
.about { background: #202020; color: #c3c3c3; width: 31em; padding: 1em 1.2em; font-size: 14px;
         border: 1px solid #444; border-radius: 4px; }
.about .title { font-size: 1.25em; font-weight: 600; }
.about .gap { height: .8em; }
.about .buttons { text-align: right; margin-top: 1em; }
.about .buttons span { display: inline-block; width: 8em; text-align: center; padding: .15em 0;
         margin-left: .5em; background: #0e0e0e; border: 1px solid #363636; border-radius: 6px; }
nav ol { columns: 2; }
"""


def signature_note(args, name, version):
    """Who signed this build's plug-in and installer, or plainly that nobody did."""
    msi = f"{name}-{version}-win64.msi"
    if args.unsigned:
        return (f"<p><b>This build is unsigned.</b> Neither <code>{name}.aex</code> nor "
                f"<code>{msi}</code> carries a digital signature: Windows may warn before it "
                "runs the installer, and a policy that requires signed software refuses both. "
                "Compare the files with <code>SHA256SUMS</code> from where you downloaded "
                "them.</p>")
    signer = html.escape(args.signer)
    return (f"<p>The plug-in and the installer are signed by <b>{signer}</b>. To check a "
            f"signature, open the file's Properties, tab <b>Digital Signatures</b>: it names "
            f"{signer} and, under Details, says the signature is OK; or in PowerShell: "
            f"<code>Get-AuthenticodeSignature .\\{msi}</code> shows <code>Valid</code>.</p>")


def install_section(args, name, category):
    version = args.version
    msi = f"{name}-{version}-win64.msi"
    folder = f"C:\\Program Files\\Common Files\\Adobe\\Plug-ins\\7.0\\MediaCore\\{name}\\"
    return f"""<h2 id="install">Installing</h2>
{signature_note(args, name, version)}
<h3>With the installer</h3>
<ol>
<li>Quit the host application.</li>
<li>Double-click <code>{msi}</code>. Windows shows its progress bar and asks nothing else. The
plug-in, this guide, the licence and the notices go, for every user of the computer, into the
plug-in folder that every version of the host application scans:<br><code>{folder}</code></li>
<li>Start the host application again. It finds new effects only when it starts.</li>
</ol>
<p>A newer version's installer replaces an older one in one step; an older one over a newer one
stops with a message and changes nothing. The same installer run again repairs the files.</p>
<p><b>Studios and render farms</b> install without a window, with a log of what happened (exit
code 0 is success; the log explains any other):<br>
<code>msiexec /i {msi} /qn /l*v install.log</code><br>
To install elsewhere, name the folder: <code>msiexec /i {msi} /qn INSTALLDIR="D:\\Plugins\\{name}"</code>
(the host application must scan that folder); repairs and later versions go there too. Every
render node needs the same version: the effect renders the same bits on every machine, with or
without a graphics card.</p>
<h3>By hand, from the zip</h3>
<p>Copy <code>{name}.aex</code> into the host application's plug-ins folder (the folder it scans
for effects when it starts; its documentation names it). A subfolder of it is fine, for example
<code>Plug-ins\\{category}\\</code>. Copy only the <code>.aex</code>: it needs no other file and no
runtime. Do not also install it with the installer: the host would find it twice.</p>
"""


def uninstall_section(name, version):
    msi = f"{name}-{version}-win64.msi"
    return f"""<h2 id="uninstall">Uninstalling</h2>
<p>Quit the host application. If you used the installer, remove <b>{name}</b> in Windows'
installed apps (Settings, Apps), or without a window:
<code>msiexec /x {msi} /qn /l*v uninstall.log</code>. That removes every file the installer put
in its folder, and the folder if nothing else is in it; files you added there stay. If you
copied it by hand, delete <code>{name}.aex</code> (and the subfolder, if you made one for it)
from the plug-ins folder. The effect keeps no settings or files anywhere else (the installer's
one registry value, where it put the files, goes with it). Projects that use it will report the effect as missing until it is installed again.</p>
"""


def page(args, info, about_lines, strips):
    name = html.escape(info["name"])
    category = html.escape(info["category"])
    version = args.version
    prefix = html.escape(message_prefix(args.source))
    before, after = browser_notice(args.source)
    website = info["support URL"]  # the address the About dialog opens and names
    e = html.escape
    out = []
    w = out.append
    w(f"""<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<title>{name} {version}: user guide</title><style>{STYLE}</style></head><body>
<h1>{name} {version}</h1>
<p class="sub">Animated procedural fire for your compositing application on 64-bit Windows</p>
<p><img class="preview" src="{PICTURES}/preview.webp" width="640" height="360"
 alt="The default fire, animated"></p>
<p>The default clip: 48 frames at 24 frames per second with every control at its default,
shown at half size and looping.</p>
<nav><ol>
<li><a href="#install">Installing</a></li><li><a href="#find">Finding the effect</a></li>
<li><a href="#controls">The controls</a></li><li><a href="#about">The About dialog</a></li>
<li><a href="#gpu">With the host's GPU acceleration</a></li>
<li><a href="#cpu">Rendering without a graphics card</a></li>
<li><a href="#trouble">Messages and what to do</a></li><li><a href="#uninstall">Uninstalling</a></li>
</ol></nav>

{install_section(args, name, category)}
<p>Requirements: 64-bit Windows. A graphics card with Direct3D 11 (feature level 11.0) renders
fastest; without one the effect renders on the processor (<a href="#cpu">below</a>).
The file's Properties (Details tab) show the version, {version}.</p>

<h2 id="find">Finding the effect</h2>
<p>In the host application's Effect menu or effects panel, open the category
<b>{category}</b> and choose <b>{name}</b>. Apply it to a layer; a solid layer is the usual
choice: the effect draws its fire over the whole layer and never looks at the layer's own
pixels. Its image is opaque: fire on black. Blend it with a mode such as Screen or Add to put
it over footage.</p>
<p>In the Effect Controls panel the effect shows its banner above its controls:</p>
<p><img src="{PICTURES}/banner.png" alt="The effect's banner"></p>

<h2 id="controls">The controls</h2>
<p>Every control can be keyframed. Each picture below shows one control at several values, the
others at their defaults, all at frame 24.</p>
<table><tr><th>control</th><th>default</th><th>slider</th><th>values you can type</th></tr>
""")
    for param in info["params"]:
        if param["name"] not in CONTROLS:
            continue
        slider = "&ndash;"
        valid = "any point, also outside the layer"
        if "slider" in param:
            slider = f"{number(param['slider'][0])} to {number(param['slider'][1])}"
            valid = f"{number(param['valid'][0])} to {number(param['valid'][1])}"
        w(f"<tr><td>{e(param['name'])}</td><td>{e(param.get('default', ''))}</td>"
          f"<td>{slider}</td><td>{valid}</td></tr>\n")
    w("</table>\n")
    for param in info["params"]:
        if param["name"] not in CONTROLS:
            continue
        _, text = CONTROLS[param["name"]]
        file, values = strips[param["name"]]
        shown = values.replace(",", ", ")
        w(f"""<h3>{e(param['name'])}</h3><p>{" ".join(text.split())}</p>
<p><img class="strip" src="{PICTURES}/{file}" alt="{e(param['name'])} at {shown}"></p>
""")
    w(f"""
<h2 id="about">The About dialog</h2>
<p>The <b>About&hellip;</b> button beside the effect's name in the Effect Controls panel opens
it:</p>
<div class="about"><div class="title">{e(about_lines[0])}</div>
<div class="gap"></div>{'<br>'.join(e(line) for line in about_lines[1:3])}
<div class="gap"></div>{'<br>'.join(e(line) for line in about_lines[3:])}
<div class="buttons"><span>Visit Website</span><span>Close</span></div></div>
<p><b>Visit Website</b> opens {e(website)} in your browser; <b>Close</b>, Escape or Enter close
the dialog. When the host application runs without a user interface (a render engine, for
example), it shows the same lines as a message instead.</p>

<h2 id="gpu">With the host's GPU acceleration</h2>
<p>When your compositing application renders with its GPU acceleration set to Direct3D 12, the
effect renders its 32-bit frames on the application's own graphics device, straight into the
application's frame: no copy of the frame to main memory and back, no second device, and the
same pixels as without it. To turn it on, choose Direct3D 12 GPU acceleration in the
application's project settings; the effect needs no setting of its own. With other kinds of GPU
acceleration, at 8 and 16 bits per channel, or without acceleration, the effect renders on its
own Direct3D 11 device or on the processor, as described below.</p>

<h2 id="cpu">Rendering without a graphics card</h2>
<p>Render-farm nodes, cloud machines, virtual machines and remote desktop sessions often have
no graphics card that Direct3D 11 can use. There the effect renders on the processor, with the
same program and the same result, using up to 8 processor cores. Nothing needs to be set up:
the effect chooses when it renders its first frame, and again after a graphics card was lost or
the host application set the effect up anew.</p>
<p>The environment variable <code>PYRIX_CPU_FALLBACK</code> decides:</p>
<table><tr><th>value</th><th>what the effect does</th></tr>
<tr><td>not set, empty or <code>auto</code></td><td>the graphics card when one can serve, else
the processor</td></tr>
<tr><td><code>off</code></td><td>never the processor: a machine without a usable graphics card
shows the message &ldquo;{prefix}No hardware GPU available&rdquo; or &ldquo;{prefix}Direct3D 11
GPU initialization failed&rdquo; on every frame</td></tr>
<tr><td><code>force</code></td><td>always the processor, even with a graphics card</td></tr>
</table>
<p>To set it for your user: Start menu &rarr; &ldquo;Edit environment variables for your
account&rdquo; &rarr; New &rarr; name <code>PYRIX_CPU_FALLBACK</code>, value
<code>force</code>; or in a command prompt <code>setx PYRIX_CPU_FALLBACK force</code>. Then
restart the host application: it reads the variable when it starts.</p>
<p><b>Render farms.</b> The processor and the graphics card compute the same pixels on every
card that follows Direct3D 11's rules. To be safe, do not mix machines with and without graphics
cards (nor graphics cards of different makers) within one shot, or the fine grain of the fire
could flicker from frame to frame where one machine's driver bends those rules. Set
<code>PYRIX_CPU_FALLBACK=force</code> on every node that renders a processor shot, or
<code>off</code> on graphics-card nodes, so that one whose card is missing stops with a message
instead of rendering differently. A 1920&times;1080 frame takes a few tens of milliseconds on a
modern processor.</p>

<h2 id="trouble">Messages and what to do</h2>
<p>When a frame cannot be rendered, the host application shows the effect's message, which
begins with &ldquo;{prefix}&rdquo;. Nothing else is changed: fix the cause and render again.</p>
<table><tr><th>message</th><th>why</th><th>what to do</th></tr>
""")
    for message in MESSAGES:  # grouped by cause; "as above" refers to the row before
        cause, remedy = MESSAGES[message]
        w(f"<tr><td>{prefix}{e(message)}</td><td>{cause}</td><td>{remedy}</td></tr>\n")
    w(f"""<tr><td>{prefix}<i>any other text</i></td><td>A fault of the system (for example
Windows refused a lock).</td><td>Save your work, restart the host application and render again.
If it persists, tell the maker the exact text.</td></tr>
<tr><td><i>the host application's own out-of-memory message</i></td><td>The computer ran out of
memory during the frame.</td><td>Close other programs, render at a lower resolution, or purge
the host application's caches.</td></tr>
<tr><td>{e(before)}{e(website)}{e(after)}</td><td>In the About dialog, <b>Visit Website</b> could
not start a browser.</td><td>Open the address yourself. The dialog stays open.</td></tr>
<tr><td><i>the About lines as a message</i></td><td>Not an error: the host application has no
window to show the dialog in (a render engine).</td><td>Nothing.</td></tr>
</table>

{uninstall_section(name, version)}
<p class="sub">{name} {version}. {e(about_lines[-1])}; see LICENSE.txt. The compiler's
runtime inside the plug-in is listed in THIRD_PARTY_NOTICES.txt.</p>
</body></html>
""")
    return "".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--source", required=True)
    parser.add_argument("--pyrix", required=True)
    parser.add_argument("--plugin", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--out", required=True)
    signature = parser.add_mutually_exclusive_group(required=True)
    signature.add_argument("--signer", help="who signed the plug-in and the installer")
    signature.add_argument("--unsigned", action="store_true", help="nobody did")
    args = parser.parse_args()

    faults = message_faults(args.source)
    if faults:
        print("\n".join("make_guide: " + fault for fault in faults), file=sys.stderr)
        return 1
    info = parse_info(run([args.pyrix, "info", "--plugin", args.plugin]))
    missing = sorted(set(CONTROLS) - {p["name"] for p in info["params"]})
    if missing:
        print(f"make_guide: the plug-in does not declare {missing}", file=sys.stderr)
        return 1
    about_lines = run([args.pyrix, "about", "--plugin", args.plugin]).strip("\n").split("\n")
    os.makedirs(args.out, exist_ok=True)
    strips = render_pictures(args, info, args.out)
    with open(os.path.join(args.out, "user_guide.html"), "w", encoding="utf-8") as handle:
        handle.write(page(args, info, about_lines, strips))
    print(f"make_guide: {os.path.join(args.out, 'user_guide.html')}, {len(strips)} strips, "
          f"{len(MESSAGES)} messages")
    return 0


if __name__ == "__main__":
    sys.exit(main())
