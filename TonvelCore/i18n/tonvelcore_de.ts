<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name></name>
    <message id="preset.off.keyword">
        <source>Standard pitch, A4 = 440 Hz</source>
        <translation>Kammerton, A4 = 440 Hz</translation>
    </message>
    <message id="preset.off.background">
        <source>Leaves the music as it is. A4 = 440 Hz is the international standard pitch (ISO 16) to which almost all music today is tuned.</source>
        <translation>Lässt die Musik unverändert. A4 = 440 Hz ist der internationale Kammerton (ISO 16), auf den fast alle heutige Musik gestimmt ist.</translation>
    </message>
    <message id="preset.432.keyword">
        <source>Alternative concert pitch</source>
        <translation>Alternativer Kammerton</translation>
    </message>
    <message id="preset.432.background">
        <source>Lowers all music by about 32 cents so that A4 sounds at 432 Hz. Its supporters call it warmer and more relaxed; controlled studies have not confirmed such effects.</source>
        <translation>Senkt die Musik um etwa 32 Cent, sodass A4 auf 432 Hz klingt. Befürworter beschreiben die Stimmung als wärmer und entspannter; kontrollierte Studien haben solche Wirkungen nicht bestätigt.</translation>
    </message>
    <message id="preset.174.keyword">
        <source>Grounding and calm</source>
        <translation>Erdung und Ruhe</translation>
    </message>
    <message id="preset.174.background">
        <source>The lowest of the so-called Solfeggio frequencies. It is said to ease pain and tension and to give a feeling of safety; there is no scientific evidence for this.</source>
        <translation>Die tiefste der sogenannten Solfeggio-Frequenzen. Ihr wird nachgesagt, Schmerzen und Anspannung zu lindern und ein Gefühl von Sicherheit zu geben; wissenschaftlich belegt ist das nicht.</translation>
    </message>
    <message id="preset.285.keyword">
        <source>Regeneration</source>
        <translation>Regeneration</translation>
    </message>
    <message id="preset.285.background">
        <source>A Solfeggio frequency that is said to support the body's regeneration and the healing of tissue. These claims are not scientifically supported.</source>
        <translation>Eine Solfeggio-Frequenz, die die Regeneration des Körpers und die Heilung von Gewebe unterstützen soll. Wissenschaftlich belegt sind diese Behauptungen nicht.</translation>
    </message>
    <message id="preset.396.keyword">
        <source>Letting go of fear</source>
        <translation>Angst loslassen</translation>
    </message>
    <message id="preset.396.background">
        <source>The Solfeggio tone associated with the syllable “Ut”. It is said to dissolve fear and guilt; there is no scientific evidence for this.</source>
        <translation>Der Solfeggio-Ton zur Silbe „Ut“. Er soll Angst und Schuldgefühle lösen; wissenschaftlich belegt ist das nicht.</translation>
    </message>
    <message id="preset.417.keyword">
        <source>Change and new beginnings</source>
        <translation>Wandel und Neubeginn</translation>
    </message>
    <message id="preset.417.background">
        <source>The Solfeggio tone associated with the syllable “Re”. It is said to help with change and to clear away old patterns; there is no scientific evidence for this.</source>
        <translation>Der Solfeggio-Ton zur Silbe „Re“. Er soll Veränderungen erleichtern und alte Muster auflösen; wissenschaftlich belegt ist das nicht.</translation>
    </message>
    <message id="preset.528.keyword">
        <source>The “love frequency”</source>
        <translation>Die „Liebesfrequenz“</translation>
    </message>
    <message id="preset.528.background">
        <source>The Solfeggio tone associated with the syllable “Mi”, often called the love or miracle frequency. It is said to promote healing and even to repair DNA; there is no scientific evidence for this.</source>
        <translation>Der Solfeggio-Ton zur Silbe „Mi“, oft Liebes- oder Wunderfrequenz genannt. Er soll Heilung fördern und sogar die DNA reparieren; wissenschaftlich belegt ist das nicht.</translation>
    </message>
    <message id="preset.639.keyword">
        <source>Connection and relationships</source>
        <translation>Verbindung und Beziehungen</translation>
    </message>
    <message id="preset.639.background">
        <source>The Solfeggio tone associated with the syllable “Fa”. It is said to foster harmony, understanding and good relationships; there is no scientific evidence for this.</source>
        <translation>Der Solfeggio-Ton zur Silbe „Fa“. Er soll Harmonie, Verständnis und gute Beziehungen fördern; wissenschaftlich belegt ist das nicht.</translation>
    </message>
    <message id="preset.741.keyword">
        <source>Expression and clarity</source>
        <translation>Ausdruck und Klarheit</translation>
    </message>
    <message id="preset.741.background">
        <source>The Solfeggio tone associated with the syllable “Sol”. It is said to cleanse, to sharpen intuition and to help self-expression; there is no scientific evidence for this.</source>
        <translation>Der Solfeggio-Ton zur Silbe „Sol“. Er soll reinigen, die Intuition schärfen und den eigenen Ausdruck stärken; wissenschaftlich belegt ist das nicht.</translation>
    </message>
    <message id="preset.852.keyword">
        <source>Intuition and awareness</source>
        <translation>Intuition und Bewusstheit</translation>
    </message>
    <message id="preset.852.background">
        <source>The Solfeggio tone associated with the syllable “La”. It is said to awaken intuition and to restore spiritual order; there is no scientific evidence for this.</source>
        <translation>Der Solfeggio-Ton zur Silbe „La“. Er soll die Intuition wecken und zu innerer, spiritueller Ordnung zurückführen; wissenschaftlich belegt ist das nicht.</translation>
    </message>
    <message id="preset.963.keyword">
        <source>Oneness</source>
        <translation>Einheit</translation>
    </message>
    <message id="preset.963.background">
        <source>The highest of the Solfeggio frequencies, associated with the syllable “Si”. It is said to create a sense of oneness and spiritual connection; there is no scientific evidence for this.</source>
        <translation>Die höchste der Solfeggio-Frequenzen, verbunden mit der Silbe „Si“. Sie soll ein Gefühl von Einheit und spiritueller Verbundenheit schaffen; wissenschaftlich belegt ist das nicht.</translation>
    </message>
</context>
</TS>
