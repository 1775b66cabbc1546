# What a screen reader finds in the running studio over AT-SPI: the storyboard's toolbar buttons and
# cells by name, then, reached with the keyboard alone (Tab to the preview button, Space), the VCR
# panel's buttons, slider and dials with their values. Prints what it read; exits 1 when anything
# expected is missing.
import subprocess
import sys
import time

import pyatspi

TOOLBAR = ["Clear the Project", "Open Project From Disk", "Save Project To Disk", "Render To New AVI File",
           "Preview Project with revisions", "Inactivate Selected Frame(s)", "Invoke Help System"]
VCR = ["Go To First Frame Of File", "Play File Forward (with Audio)", "Go To Last Frame Of File",
       "Play File In Reverse", "Pause Playback", "Alternatively Play File Forwards/Backwards", "Power Off"]


def wait_for(find, seconds=30):
    end = time.time() + seconds
    while time.time() < end:
        found = find()
        if found is not None:
            return found
        time.sleep(0.2)
    sys.exit("timed out waiting: " + find.__doc__)


def walk(o, depth=0):
    if o is None or depth > 12:
        return
    yield o
    for child in o:
        yield from walk(child, depth + 1)


def app():
    """the application"""
    for a in pyatspi.Registry.getDesktop(0):
        if a is not None and a.name == "Quillory":
            return a
    return None


def named(root, role, name):
    for o in walk(root):
        if o.getRole() == role and o.name == name:
            return o
    return None


def value(o):
    v = o.queryValue()
    return "%g in %g..%g" % (v.currentValue, v.minimumValue, v.maximumValue)


def key(name):
    subprocess.run(["xdotool", "key", name], check=True)
    time.sleep(0.15)


def focused(root):
    for o in walk(root):
        if o.getState().contains(pyatspi.STATE_FOCUSED):
            return o
    return None


missing = []
quillory = wait_for(app)
storyboard = wait_for(lambda: named(quillory, pyatspi.ROLE_LIST, "Storyboard"))
buttons = [o.name for o in walk(storyboard) if o.getRole() == pyatspi.ROLE_PUSH_BUTTON]
for name in buttons:
    print("storyboard: push button '%s'" % name)
missing += [n for n in TOOLBAR if n not in buttons]
cells = [o.name for o in walk(storyboard) if o.getRole() == pyatspi.ROLE_LIST_ITEM]
print("storyboard: %d cells, the first '%s'" % (len(cells), cells[0] if cells else ""))
if not cells or not cells[0].startswith("Frame 1, "):
    missing.append("the cells")

# The keyboard alone: Tab until the preview button has the focus, then Space opens the VCR panel.
for _ in range(40):
    key("Tab")
    f = focused(quillory)
    if f is not None and f.name == "Preview Project with revisions":
        break
else:
    sys.exit("Tab never reached the preview button")
key("space")
first = wait_for(lambda: named(quillory, pyatspi.ROLE_PUSH_BUTTON, "Go To First Frame Of File"))
panel = first.parent
while panel.getRole() not in (pyatspi.ROLE_DIALOG, pyatspi.ROLE_FRAME, pyatspi.ROLE_WINDOW):
    panel = panel.parent
for o in walk(panel):
    role = o.getRoleName()
    if o.getRole() in (pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_SLIDER, pyatspi.ROLE_DIAL, pyatspi.ROLE_LABEL):
        extra = " = " + value(o) if o.getRole() in (pyatspi.ROLE_SLIDER, pyatspi.ROLE_DIAL) else ""
        print("vcr panel: %s '%s'%s" % (role, o.name, extra))
vcr = [o.name for o in walk(panel) if o.getRole() == pyatspi.ROLE_PUSH_BUTTON]
missing += [n for n in VCR if n not in vcr]
slider = named(panel, pyatspi.ROLE_SLIDER, "Frame Position")
if slider is None or slider.queryValue().maximumValue < 2:
    missing.append("Frame Position")
for dial in ("Jog Dial", "Shuttle Ring"):
    if named(panel, pyatspi.ROLE_DIAL, dial) is None:
        missing.append(dial)
key("Escape")
if missing:
    sys.exit("missing: " + ", ".join(missing))
print("ok")
