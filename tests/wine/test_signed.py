"""The silent install of a signed setup (built and signed with a throw-away
certificate by tests/release): it installs as the unsigned one does, and the
registration program it leaves behind is still the signed file, byte for
byte (the version-text patch changed nothing), so its signature holds."""

import os
import subprocess
import unittest

from scenario import CONFIG, DEFAULT_DIR, MSG_REGISTERED, Scenario, fresh_clone


class SignedInstall(Scenario):

    @classmethod
    def setUpClass(cls):
        cls.prefix = fresh_clone("signed")
        cls.result = cls.prefix.run(CONFIG["setup"], ["setvosrf32"], name="signed", timeout=240)

    def test_installs_and_registers(self):
        self.assertCleanRun(self.result, codes=(0,))
        self.assertEqual([b.says(MSG_REGISTERED) for b in self.result.message_boxes], [True],
                         "the registration program's one message:\n" + self.result.describe())

    def test_installed_registration_program_still_verifies(self):
        installed = self.prefix.host_path(DEFAULT_DIR + "setupw64.exe")
        with open(CONFIG["setupw64"], "rb") as f:
            self.assertEqual(self.prefix.read(DEFAULT_DIR + "setupw64.exe"), f.read(),
                             "the install changed the signed setupw64.exe")
        # The throw-away root that tests/release made, trusted for this check.
        verify = subprocess.run(["osslsigncode", "verify", "-in", installed, "-CAfile", os.environ["VORN_SIGN_CA"]],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.assertEqual(verify.returncode, 0, verify.stdout)
        self.assertIn("Signature verification: ok", verify.stdout)


if __name__ == "__main__":
    unittest.main()
