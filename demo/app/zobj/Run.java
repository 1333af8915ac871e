package zobj;

import java.awt.BorderLayout;
import java.awt.Font;
import java.awt.event.KeyEvent;
import javax.swing.BorderFactory;
import javax.swing.JComponent;
import javax.swing.JFrame;
import javax.swing.JLabel;
import javax.swing.JPanel;
import javax.swing.KeyStroke;
import javax.swing.SwingUtilities;
import javax.swing.WindowConstants;
import zobj.demo.About;

// The demo application: the launcher calls runWithPath with its own path, and the window
// shows it. Closing the window (or pressing Escape) ends the application and the launcher.
public class Run {
    public static void runWithPath(String path) throws Exception {
        System.out.println("demo started by " + path);
        SwingUtilities.invokeAndWait(() -> show(path));
    }

    private static void show(String path) {
        JFrame frame = new JFrame("Launcher demo");
        frame.setDefaultCloseOperation(WindowConstants.DISPOSE_ON_CLOSE);

        JLabel title = new JLabel("The launcher started this application.");
        title.setFont(title.getFont().deriveFont(Font.BOLD, 16f));
        JPanel lines = new JPanel(new BorderLayout(0, 8));
        lines.setBorder(BorderFactory.createEmptyBorder(16, 16, 16, 16));
        lines.add(title, BorderLayout.NORTH);
        lines.add(new JLabel("Path given to runWithPath: " + path), BorderLayout.CENTER);
        lines.add(new JLabel(About.text() + "   (Escape closes this window)"), BorderLayout.SOUTH);
        frame.setContentPane(lines);

        frame.getRootPane().registerKeyboardAction(e -> frame.dispose(),
                KeyStroke.getKeyStroke(KeyEvent.VK_ESCAPE, 0), JComponent.WHEN_IN_FOCUSED_WINDOW);
        frame.pack();
        frame.setLocationRelativeTo(null);
        frame.setVisible(true);
    }
}
