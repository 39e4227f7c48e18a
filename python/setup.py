"""The wheel carries native libraries, LV_zolt and the bundled drivers: it is
a platform wheel (py3-none-linux_x86_64) installed as platform files, not
pure Python; any Python 3 can use it, since the package reaches the
libraries through ctypes only."""

from setuptools import setup
from setuptools.dist import Distribution

try:
    from wheel.bdist_wheel import bdist_wheel
except ImportError:  # building an sdist does not need it
    bdist_wheel = None


class NativeDistribution(Distribution):
    def has_ext_modules(self):
        return True


commands = {}
if bdist_wheel is not None:
    class PlatformWheel(bdist_wheel):
        def get_tag(self):
            _, _, platform = super().get_tag()
            return "py3", "none", platform

    commands["bdist_wheel"] = PlatformWheel

setup(distclass=NativeDistribution, cmdclass=commands)
